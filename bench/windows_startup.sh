#!/usr/bin/env bash
# How fast the Windows client starts under Wine, and what it costs while it waits.
#
#   bench/windows_startup.sh [DEPLOYED_FOLDER] [LINUX_BUILD]
#
# The deployed folder (build/windows/dist/airmesh-client-*, made by scripts/windows) is copied
# into a scratch program folder with a settings file and an FS folder; fs-standin (from the
# Linux build, build/default) hosts the session. On Xvfb, with the real Windows platform plugin:
#   start -> splash      the process started until the splash is on the screen
#   agree -> main window "I agree" and Enter at the address prompt until the main window shows
#                        (the join of the session and the hangar scan lie in between)
#   idle CPU             the client's process and Wine's server over 10 s in the main window,
#                        not connected to a server (the message pump's tick runs, and the
#                        user's aircraft comes in RATE times a second: RATE=10 by default,
#                        as FS sends it; RATE=0 for a simulator that sends nothing)
# STYLE=windows starts the client with Qt's classic style instead of the native one: the native
# (Vista) style pulses the default button (Connect) while client-area animation is on, and under
# Wine those repaints are most of the idle cost.
# Each start is made twice in the same prefix: the first one also sets Wine up for the display.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${1:-$(ls -d build/windows/dist/airmesh-client-*/ 2>/dev/null | head -n1)}
linux=${2:-build/default}
[ -f "$dist/airmesh-client.exe" ] || { echo "no deployed Windows client (run scripts/windows)" >&2; exit 2; }
[ -x "$linux/apps/fs-standin/fs-standin" ] || { echo "no fs-standin in $linux" >&2; exit 2; }
work=$(mktemp -d /tmp/airmesh-winbench.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/fs/Aircraft/c172"
cp -r "$dist"/. "$work/prog/"
: > "$work/fs/fs2000.exe"
printf '[fltsim.0]\r\ntitle=Cessna Skyhawk 172SP\r\n' > "$work/fs/Aircraft/c172/aircraft.cfg"
"$linux/apps/fs-standin/fs-standin" --enum-port 0 --rate "${RATE:-10}" --quiet-session < /dev/null > "$work/fs.log" 2>&1 &
for _ in $(seq 1 100); do grep -q hosting "$work/fs.log" && break; sleep 0.1; done
enum=$(grep -o 'session searches on UDP [0-9]*' "$work/fs.log" | grep -o '[0-9]*$')
fsdir="Z:$(echo "$work/fs/" | tr / '\\')"
printf '[General]\r\nFSDir=%s\r\nSessionHost=127.0.0.1:%s\r\nHostIP=127.0.0.1\r\n' "$fsdir" "$enum" > "$work/prog/AirmeshClient.ini"
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
/usr/lib/wine/wineserver64 -w 2>/dev/null || true

xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$work" <<'INNER'
set -euo pipefail
work=$1
now() { date +%s.%N; }
visible() { # exact title -> window id, or nothing
    for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do echo "$w"; return 0; done
    return 1
}
wait_window() { for _ in $(seq 1 3000); do visible "$1" && return 0; sleep 0.02; done; echo "no '$1'" >&2; return 1; }
cpu_ticks() { # utime + stime of the given processes
    local t=0
    for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0))); done
    echo "$t"
}
for run in 1 2; do
    t0=$(now)
    /usr/lib/wine/wine64 "$work/prog/airmesh-client.exe" ${STYLE:+-style "$STYLE"} > "$work/client.out" 2>&1 &
    pid=$!
    splash=$(wait_window "Airmesh Client Module")
    t1=$(now)
    xdotool windowfocus --sync "$splash" key Return
    t2=$(now)
    prompt=$(wait_window "Locate Session")
    xdotool windowfocus --sync "$prompt" key Return
    wait_window "Norvane Airmesh Client" > /dev/null
    t3=$(now)
    printf 'start %d: start -> splash %.2f s, agree -> main window %.2f s\n' "$run" \
        "$(echo "$t1 - $t0" | bc)" "$(echo "$t3 - $t2" | bc)"
    if [ "$run" = 2 ]; then
        sleep 2
        server=$(pgrep -f wineserver | head -n1)
        hz=$(getconf CLK_TCK)
        c0=$(cpu_ticks "$pid" "$server")
        sleep 10
        c1=$(cpu_ticks "$pid" "$server")
        printf 'idle CPU in the main window (client + wineserver): %.2f %% of one core over 10 s\n' \
            "$(echo "($c1 - $c0) * 100 / $hz / 10" | bc -l)"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 1
done
INNER
