#!/bin/bash
# netns.sh one|two HOST-COMMAND...
# Run by joiner.sh and two-joiners.sh as `unshare -n netns.sh ...`: inside a new network namespace
# that has only loopback, it starts a capture of DirectPlay's ports, the host, then one joiner
# ("one": join.raw) or two in turn ("two": joinA.raw, then joinB.raw while A is still in),
# and stops everything it started. Reads DJ_WORK (the setup folder), DJ_OUT (the log folder),
# DJ_WINEDEBUG, DJ_SECONDS, DJ_ENUM_MS and DJ_LIMIT. Notes what happened in $DJ_OUT/run.txt, one
# "key: value" a line.
set -u
mode=$1; shift
W=$DJ_WORK out=$DJ_OUT
winearch=win$(cat "$W/arch")
loader=/usr/lib/wine/wine$([ "$(cat "$W/arch")" = 64 ] && echo 64)   # not /usr/bin/wine: see setup.sh
note() { echo "$1: $2" >> "$out/run.txt"; }
wine_env() {
  env -u DISPLAY -u WAYLAND_DISPLAY WINEARCH="$winearch" WINEPREFIX="$W/prefix" WINEDEBUG="$DJ_WINEDEBUG" WINELOADER="$loader" \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;dplayx,dpwsockx=n" "$@"
}

ip link set lo up
ip route add default dev lo src 127.0.0.1   # the session search goes to 255.255.255.255: keep it on lo

set -m    # each background job gets its own process group (id = its PID), so it is stopped whole
started=()
stop_group() {   # TERM, then KILL after 3 s
  local p=$1 i
  kill -TERM -- "-$p" 2>/dev/null || return 0
  for ((i = 0; i < 30; i++)); do kill -0 -- "-$p" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL -- "-$p" 2>/dev/null
}
cleanup() {      # the joiners first, then the host, the capture last
  local i
  trap '' INT TERM HUP     # finish the cleanup even if more signals come
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do stop_group "${started[i]}"; done
  wait 2>/dev/null
  wine_env wineserver -k 2>/dev/null            # this prefix's wineserver and the Wine processes it runs
  timeout 10 env WINEPREFIX="$W/prefix" wineserver -w 2>/dev/null
}
on_signal() { [ -n "${stopping:-}" ] && return; stopping=1; note interrupted yes; cleanup; exit 130; }
trap on_signal INT TERM HUP

start_joiner() {   # LOG SECONDS LIMIT: runs dpjoin.exe in the background; its PID in $last
  ( cd "$W/bin" && wine_env timeout --foreground "$3" "$loader" ./dpjoin.exe "$2" 127.0.0.1 group "$DJ_ENUM_MS" ) \
    > "$1" 2>&1 < /dev/null &
  last=$!; started+=("$last")
}
joiner_done() {    # LOG PID: true once the joiner has its answer to 4098 (or gave up, or ended)
  grep -qE '^\[ *[0-9.]+\] (got 4100|no 4100 received)|^no session found' "$1" || ! kill -0 "$2" 2>/dev/null
}

tcpdump -i lo -n -U -Z root -w "$out/cap.pcap" 'udp port 47624 or tcp port 47624 or portrange 2300-2400' \
  2> "$out/tcpdump.err" < /dev/null &
started+=("$!")
for ((i = 0; i < 50; i++)); do grep -q 'listening on' "$out/tcpdump.err" && break; sleep 0.1; done

"$@" > "$out/host.log" 2>&1 < /dev/null &
H=$!; started+=("$H")
listening=
for ((i = 0; i < 80; i++)); do          # up to 20 s for the host's session-search port
  if ss -Hlun 'sport = :47624' | grep -q .; then listening=yes; break; fi
  kill -0 "$H" 2>/dev/null || break
  sleep 0.25
done
if [ -z "$listening" ]; then
  if kill -0 "$H" 2>/dev/null; then note host "running, but nothing listens on UDP 47624 after 20 s"
  else wait "$H"; note host "exited (status $?) before listening on UDP 47624"; fi
else
  note host "listening on UDP 47624 after $(awk "BEGIN { print $i * 0.25 }") s"
  sleep 0.3
fi

if ! kill -0 "$H" 2>/dev/null; then
  note joiner "not started: the host had exited"
elif [ "$mode" = one ]; then
  start_joiner "$out/join.raw" "$DJ_SECONDS" $((DJ_SECONDS + DJ_LIMIT)); J=$last
  wait "$J"; note joiner "exit status $?"
else
  # A stays while B starts, searches, joins, stays 2 s and leaves
  enum_s=$(( (DJ_ENUM_MS + 999) / 1000 ))
  start_joiner "$out/joinA.raw" $((8 + 2 * enum_s)) $((20 + DJ_LIMIT)); A=$last
  for ((i = 0; i < 120; i++)); do joiner_done "$out/joinA.raw" "$A" && break; sleep 0.25; done
  start_joiner "$out/joinB.raw" 2 $((5 + DJ_LIMIT)); B=$last
  wait "$B"; note "joiner B" "exit status $?"
  if kill -0 "$A" 2>/dev/null && ! grep -q 'DestroyPlayer' "$out/joinA.raw"; then
    note "A in the session while B joined and left" yes
  else
    note "A in the session while B joined and left" no
  fi
  wait "$A"; note "joiner A" "exit status $?"
fi
if kill -0 "$H" 2>/dev/null; then note "host at the end" running; else note "host at the end" "had exited"; fi
sleep 0.3                                 # the last packets into the capture
cleanup
