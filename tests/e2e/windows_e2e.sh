#!/usr/bin/env bash
# The client's windows as a user and the window manager meet them, under Xvfb driven by xdotool:
# every title exactly as the window manager shows it, Alt and the letter of a disabled button,
# Cancel during a long hangar scan and the starts after it, and, where twm (a small window
# manager that draws frames) is installed, the windows centred by their frames.
set -euo pipefail
bin=$1
work=$(mktemp -d)
# A large add-on hangar, 40,000 folders whose walk takes a second or more, in memory where
# possible: a disk takes long to make and remove so many.
big=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work" "$big"' EXIT
mkdir -p "$work/prog" "$work/small/Aircraft/c172" "$big/Aircraft" "$work/run"
cp "$bin" "$work/prog/airmesh-client"
: > "$work/small/FS2000.EXE"
: > "$big/FS2000.EXE"
printf '[fltsim.0]\r\ntitle=Cessna Skyhawk\r\n' > "$work/small/Aircraft/c172/aircraft.cfg"
(cd "$big/Aircraft" && mkdir -p a{1..200}/b{1..200})
cat > "$work/twmrc" <<'TWMRC'
UsePPosition "on"
RandomPlacement
DecorateTransients
NoGrabServer
TitleFont "fixed"
ResizeFont "fixed"
MenuFont "fixed"
IconFont "fixed"
IconManagerFont "fixed"
TWMRC
chmod 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
unset QT_QPA_PLATFORM
cd "$work"

xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$work" "$big" <<'INNER'
set -euo pipefail
work=$1
big=$2
ini=$work/prog/AirmeshClient.ini
# Kept in a file: find_window fails inside a command substitution, a shell of its own.
fail() { echo "FAIL: $*" | tee -a "$work/failures" >&2; }
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

settings() { # FS folder; Connect goes to a port where nobody listens, so it fails at once
    printf '[General]\r\nFSDir=%s/\r\nHostIP=127.0.0.1\r\nClientConnectPort=0\r\nClientConnectTCP=1\r\nDebug=0\r\n' \
        "$1" > "$ini"
}
start() { "$work/prog/airmesh-client" 2>>"$work/client.err" & pids+=($!); }
# The display answers before the first client starts (a server still coming up, or one going
# down under the same number, is no place for a program to connect to).
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
titles() {
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        printf "'%s' " "$(xdotool getwindowname "$w")"
    done
}
# The window whose title, as the window manager shows it, is exactly $1. A window that is only
# named so in its old-style name (WM_NAME) counts as a failure, and the run goes on with it.
find_window() {
    for _ in $(seq 1 100); do
        for w in $(xdotool search --onlyvisible --name "^$1" 2>/dev/null); do
            [ "$(xdotool getwindowname "$w")" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.2
    done
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    fail "no window titled '$1'; shown: $(titles)"
    [ -n "$w" ] && { echo "$w"; return 0; }
    return 1
}
press() { xdotool windowfocus --sync "$1"; xdotool key "$2"; }
ended() { # pid, tenths of a second to wait
    for _ in $(seq 1 "$2"); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
    return 1
}

# 1. The splash, its messages and the folder picker, with a settings file that names no FS folder.
settings "$work/nowhere"
start; a=$!
press "$(find_window "Airmesh Client Module")" Return
press "$(find_window "Airmesh")" Return                              # the folder was not found
press "$(find_window "Please select the main FS directory")" Escape
press "$(find_window "Airmesh")" Return                              # No Directory chosen
press "$(find_window "Airmesh Client Module")" Escape                # Don't agree - Quit
ended "$a" 50 || fail "the client did not end after Don't agree"

# 2. Cancel while a large hangar is scanned ends the program at once.
settings "$big"
start; b=$!
press "$(find_window "Airmesh Client Module")" Return
press "$(find_window "Norvane Airmesh Client")" alt+c
ended "$b" 30 || fail "the client was still running 3 s after Cancel during the hangar scan"
kill "$b" 2>/dev/null || true
wait "$b" 2>/dev/null || true

# 3. The next start is not refused; a second copy beside it is, in a box titled ERROR.
settings "$work/small"
start; c=$!
press "$(find_window "Airmesh Client Module")" Return
main=$(find_window "Norvane Airmesh Client")
start; d=$!
press "$(find_window "ERROR")" Return
ended "$d" 50 || fail "the second copy did not end after its message"

# 4. Alt+A while Aliasing is disabled types nothing into the server address, which Connect saves.
press "$main" alt+a
press "$main" Return                                                 # Connect, the default button
for _ in $(seq 1 50); do grep -q '^PID=' "$ini" && break; sleep 0.1; done
grep -q $'^HostIP=127.0.0.1\r$' "$ini" || fail "Connect saved $(grep '^HostIP' "$ini" | tr -d '\r') after Alt+A"
press "$main" alt+c
ended "$c" 50 || fail "the client did not end after Cancel"

# 5. With a window manager that draws frames, the splash and the main window are centred by
#    their frames (border and title bar included), not by their client areas.
if command -v twm >/dev/null && command -v xwininfo >/dev/null; then
    LANG=C twm -f "$work/twmrc" 2>/dev/null & pids+=($!)
    sleep 0.5
    root=$(xwininfo -root | awk '/Window id:/ {print $4}')
    # The window's frame: its ancestor just below the root, as "left top width height", border
    # included (xwininfo gives the outer corner already).
    frame() {
        local w=$1 p
        while p=$(xwininfo -tree -id "$w" | awk '/Parent window id:/ {print $4}') && [ "$((p))" != "$((root))" ]; do
            w=$p
        done
        xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
            /Width:/ {w=$2} /Height:/ {h=$2} /Border width:/ {b=$3}
            END {print x, y, w+2*b, h+2*b}'
    }
    centred() { # window, title: waits up to 3 s for the frame's place, as the window may move once
        local got
        for _ in $(seq 1 30); do
            got=$(frame "$1")
            read -r x y w h <<<"$got"
            [ "$x" -eq $(((1280 - w) / 2)) ] && [ "$y" -eq $(((1024 - h) / 2)) ] && return 0
            sleep 0.1
        done
        fail "'$2' is not centred by its frame: $got (left top width height) on 1280x1024"
    }
    start; e=$!
    splash=$(find_window "Airmesh Client Module")
    centred "$splash" "Airmesh Client Module"
    press "$splash" Return
    main=$(find_window "Norvane Airmesh Client")
    centred "$main" "Norvane Airmesh Client"
    press "$main" alt+c
    ended "$e" 50 || fail "the client did not end after Cancel under twm"
else
    echo "twm or xwininfo is not installed: the frames' placement is not checked" >&2
fi
[ -e "$work/failures" ] && [ -s "$work/client.err" ] && { echo "the client said:" >&2; tail -n 20 "$work/client.err" >&2; }
[ ! -e "$work/failures" ]
INNER
echo "windows end-to-end: titles, accelerators, Cancel during the scan, placement"
