#!/usr/bin/env bash
# The status page in a real browser: airmesh-server with two airmesh-bot pilots (one over
# Seattle, one over Sydney, a handle and a title full of <, > and &), headless Chromium loads
# the page, its script fetches /status.json, and the DOM after the script ran must hold every
# pilot in the table, as a dot on the map and in the map's list, each text shown as text.
# A screenshot of the page is kept beside the test (status-page.png in the working folder).
# Usage: statuspage_browser.sh AIRMESH_SERVER AIRMESH_BOT CHROMIUM
set -u
server_bin=$1
bot_bin=$2
chromium=$3
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for f in "$work"/*.out; do echo "---- $(basename "$f")"; tail -n 20 "$f"; done
    exit 1
}
wait_for() { # file regex seconds
    local deadline=$((SECONDS + $3))
    until grep -qE -- "$2" "$1" 2>/dev/null; do
        ((SECONDS >= deadline)) && fail "no line matching '$2' in $(basename "$1") within $3 s"
        sleep 0.1
    done
}
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

http=$(free_port)
"$server_bin" --open --listen 127.0.0.1 --udp-port 0 --tcp-port 0 --http-port "$http" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for "$work/server.out" 'listening on .*UDP [0-9]+, TCP [0-9]+' 10
udp=$(grep -oE 'UDP [0-9]+' "$work/server.out" | head -1 | cut -d' ' -f2)
tcp=$(grep -oE 'TCP [0-9]+' "$work/server.out" | head -1 | cut -d' ' -f2)

"$bot_bin" --udp-port "$udp" --tcp-port "$tcp" --pilot-id 501 --handle 'Ann<&>' \
    --title 'Piper <b>Cub</b> & Co' --rate 2 </dev/null >"$work/ann.out" 2>&1 &
pids+=($!)
"$bot_bin" --udp-port "$udp" --tcp-port "$tcp" --pilot-id 502 --handle Bruce --title 'Boeing 737-800' --engine 1 \
    --at=-33.95,151.18 --rate 2 </dev/null >"$work/bruce.out" 2>&1 &
pids+=($!)
wait_for "$work/ann.out" 'logon accepted' 15
wait_for "$work/bruce.out" 'logon accepted' 15

# Both pilots known with their aircraft and a position before the browser looks.
url="http://127.0.0.1:$http"
deadline=$((SECONDS + 15))
until python3 - "$url/status.json" <<'PY'
import json, sys, urllib.request
s = json.load(urllib.request.urlopen(sys.argv[1], timeout=2))
ok = len(s["pilots"]) == 2 and all(p["lat"] is not None and p["title"] for p in s["pilots"])
sys.exit(0 if ok else 1)
PY
do
    ((SECONDS >= deadline)) && fail "the server never listed both pilots with a position"
    sleep 0.3
done

browser=(
    "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
    --disable-component-update --disable-sync --user-data-dir="$work/profile" --virtual-time-budget=8000
)
timeout 60 "${browser[@]}" --dump-dom "$url/" >"$work/dom.html" 2>"$work/chromium.out" ||
    fail "chromium did not load the page"
timeout 60 "${browser[@]}" --window-size=1000,1000 --screenshot="$PWD/status-page.png" "$url/" \
    >>"$work/chromium.out" 2>&1 || fail "chromium took no screenshot"
[ -s status-page.png ] || fail "no screenshot"

python3 - "$work/dom.html" <<'PY' || fail "the page's DOM is not as expected"
import sys
from html.parser import HTMLParser

class Page(HTMLParser):
    def __init__(self):
        super().__init__()
        self.stack, self.cells, self.items, self.dots, self.titles, self.tags = [], [], [], [], [], []
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.stack.append((tag, a))
        self.tags.append(tag)
        if tag == "circle" and "data-handle" in a:  # a pilot's dot, not the page's pattern of one
            self.dots.append(a)
    def handle_endtag(self, tag):
        while self.stack and self.stack.pop()[0] != tag:
            pass
    def handle_data(self, data):
        if not self.stack:
            return
        tag, _ = self.stack[-1]
        inside = [t for t, _ in self.stack]
        if tag == "td" and "tbody" in inside:
            self.cells.append(data)
        elif tag == "li":
            self.items.append(data)
        elif tag == "title" and "svg" in inside:
            self.titles.append(data)

p = Page()
p.feed(open(sys.argv[1], encoding="utf-8").read())
problems = []
for handle, title in (("Ann<&>", "Piper <b>Cub</b> & Co"), ("Bruce", "Boeing 737-800")):
    if handle not in p.cells:
        problems.append(f"no table cell {handle!r}: {p.cells}")
    if title not in p.cells:
        problems.append(f"no table cell {title!r}")
    if not any(i.startswith(handle + ": ") for i in p.items):
        problems.append(f"{handle!r} not in the map's list: {p.items}")
    if not any(t.startswith(handle) for t in p.titles):
        problems.append(f"no dot whose hover says {handle!r}: {p.titles}")
if len(p.dots) != 2:
    problems.append(f"{len(p.dots)} dots on the map, not 2")
else:
    # Seattle in the north-west of the map, Sydney in the south-east.
    seattle = [d for d in p.dots if d.get("data-handle") == "Ann<&>"]
    sydney = [d for d in p.dots if d.get("data-handle") == "Bruce"]
    if not seattle or not sydney:
        problems.append(f"the dots do not name their pilots: {p.dots}")
    else:
        sx, sy = float(seattle[0]["cx"]), float(seattle[0]["cy"])
        bx, by = float(sydney[0]["cx"]), float(sydney[0]["cy"])
        if not (50 < sx < 65 and 40 < sy < 45 and 325 < bx < 335 and 120 < by < 127):
            problems.append(f"dots misplaced: Ann at {sx},{sy}, Bruce at {bx},{by}")
if "b" in p.tags:
    problems.append("a title's <b> became an element: text was taken as HTML")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("status page: both pilots in the table, on the map and in its list, texts as text")
PY
echo "screenshot: $PWD/status-page.png"
