#!/usr/bin/env bash
# Two airmesh-bot processes against airmesh-server on loopback, with ports the server picks:
# logon, each pilot seeing the other with his aircraft, positions both ways, chat, crash,
# logoff by quitting, and the server dropping a third pilot who falls silent.
# Usage: bots_e2e.sh AIRMESH_SERVER AIRMESH_BOT
set -u
server_bin=$1
bot_bin=$2
work=$(mktemp -d)
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for f in "$work"/*.out; do
        echo "---- $(basename "$f")"
        cat "$f"
    done
    exit 1
}

# Waits up to $3 seconds for a line of file $1 to match the extended regex $2.
wait_for() {
    local deadline=$((SECONDS + $3))
    until grep -qE -- "$2" "$1" 2>/dev/null; do
        if ((SECONDS >= deadline)); then
            fail "no line matching '$2' in $(basename "$1") within $3 s"
        fi
        sleep 0.1
    done
}

cd "$work" || exit 1

"$server_bin" --open --listen 127.0.0.1 --udp-port 0 --tcp-port 0 --silence-timeout 3 >server.out 2>&1 &
pids+=($!)
wait_for server.out 'listening on .*UDP [0-9]+, TCP [0-9]+' 10
udp=$(grep -oE 'UDP [0-9]+' server.out | head -1 | cut -d' ' -f2)
tcp=$(grep -oE 'TCP [0-9]+' server.out | head -1 | cut -d' ' -f2)

# A bot reading its commands from a FIFO kept open on descriptor $3.
start_bot() {
    local name=$1 fd=$2
    shift 2
    mkfifo "$name.in"
    "$bot_bin" --udp-port "$udp" --tcp-port "$tcp" --handle "$name" --report 1 "$@" <"$name.in" >"$name.out" 2>&1 &
    pids+=($!)
    eval "exec $fd>$name.in"
}

start_bot Alpha 3 --pilot-id 101 --rate 10
alpha=${pids[-1]}
start_bot Bravo 4 --pilot-id 102 --rate 10 --title "Learjet 45" --engine 1
bravo=${pids[-1]}

wait_for Alpha.out '^Alpha: logon accepted: session [0-9]+$' 15
wait_for Bravo.out '^Bravo: logon accepted: session [0-9]+$' 15
wait_for Alpha.out '^Alpha: remote player added: Bravo$' 15
wait_for Bravo.out '^Bravo: remote player added: Alpha$' 15
wait_for Alpha.out '^Alpha: remote aircraft: Bravo "Learjet 45" engine 1$' 15
wait_for Bravo.out '^Bravo: remote aircraft: Alpha "Cessna Skyhawk 172SP" engine 0$' 15

# Positions both ways, at about the rate sent (10 a second, reported each second).
wait_for Alpha.out '^Alpha: positions: Bravo ([5-9]|1[0-5]) in 1 s' 15
wait_for Bravo.out '^Bravo: positions: Alpha ([5-9]|1[0-5]) in 1 s' 15

echo "chat hello from alpha" >&3
wait_for Bravo.out '^Bravo: chat from Alpha: hello from alpha$' 15
echo "chat Grüße zurück" >&4
wait_for Alpha.out '^Alpha: chat from Bravo: Grüße zurück$' 15

echo "crash" >&4
wait_for Bravo.out '^Bravo: sent crash$' 5
wait_for Alpha.out '^Alpha: chat from Airmesh: Bravo has crashed\.$' 15

# A pilot who sends nothing but the heartbeat every 15 s is dropped by the server after 3 s.
start_bot Charlie 5 --pilot-id 103 --rate 0
charlie=${pids[-1]}
wait_for Charlie.out '^Charlie: logon accepted' 15
wait_for Alpha.out '^Alpha: remote player added: Charlie$' 15
wait_for server.out 'dropped pilot 103 .*silent' 15
wait_for Alpha.out '^Alpha: remote player removed: Charlie$' 15
wait_for Charlie.out '^Charlie: status: Server connection lost' 15
grep -q '^Alpha: remote player removed: Bravo$' Alpha.out && fail "Bravo removed while still flying"

# Logoff: Bravo quits; Alpha sees him go.
echo "quit" >&4
wait_for Bravo.out '^Bravo: stopped$' 10
wait_for Alpha.out '^Alpha: remote player removed: Bravo$' 15
wait_for server.out 'logoff: pilot 102 ' 15
wait "$bravo" || fail "Bravo ended with status $?"

# SIGTERM stops a bot cleanly.
kill -TERM "$alpha"
wait "$alpha" || fail "Alpha ended with status $? on SIGTERM"
grep -q '^stopping: signal$' Alpha.out || fail "Alpha did not report the signal"
kill -TERM "$charlie"
wait "$charlie" || fail "Charlie ended with status $? on SIGTERM"

echo "PASS"
