#!/usr/bin/env bash
# Starts the client in a scratch program folder under Xvfb and goes through it as a user would:
# agree on the splash, see the main window, quit with Cancel. Then checks what the client wrote.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/fs/Aircraft/c172" "$work/run"
cp "$bin" "$work/prog/airmesh-client"
: > "$work/fs/FS2000.EXE"
printf '[fltsim.0]\r\ntitle=Cessna Skyhawk\r\n[fltsim.1]\r\ntitle=Cessna Floats\r\n' > "$work/fs/Aircraft/c172/aircraft.cfg"
printf '[General]\r\nFSDir=%s/fs/\r\nHostIP=127.0.0.1\r\n' "$work" > "$work/prog/AirmeshClient.ini"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
# A real X display, whatever platform the test runner asks the other tests to use.
unset QT_QPA_PLATFORM
cd "$work"

xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$work" <<'INNER'
set -euo pipefail
work=$1
"$work/prog/airmesh-client" & pid=$!
# Whatever happens below, the client does not outlive the test.
trap 'kill "$pid" 2>/dev/null || true' EXIT
find_window() { # name -> window id, waiting up to 20 s
    for _ in $(seq 1 100); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.2
    done
    echo "window '$1' did not appear" >&2
    return 1
}
splash=$(find_window "Airmesh Client Module")
xdotool windowfocus --sync "$splash"
xdotool key Return                 # "I agree - Lets Start!" is the default button
main=$(find_window "Norvane Airmesh Client")
[ -n "${SCREENSHOT:-}" ] && command -v import >/dev/null && import -window "$main" "$SCREENSHOT"
# Wait for the hangar scan to finish: the status line reads "Disconnected" again.
sleep 1
xdotool windowfocus --sync "$main"
xdotool key alt+c                  # &Cancel quits
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then
    echo "client still running after Cancel" >&2
    kill "$pid"
    exit 1
fi
wait "$pid"
INNER

grep -q ' - Your Handle in the game is E2EPilot' "$work/log.txt" || { echo "no handle line in the log" >&2; cat "$work/log.txt" >&2; exit 1; }
echo "end-to-end: splash agreed, main window shown, quit by Cancel"
