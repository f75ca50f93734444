#!/bin/bash
# joiner.sh [--arch 64|32] [--trace] [--out DIR] [--seconds N] [--enum-ms N] [--limit N] [--work DIR] HOST-COMMAND...
# Runs HOST-COMMAND (a DirectPlay 4 session host) and a real DirectPlay 4 joiner (Wine 10's
# dplayx/dpwsockx, running dpjoin.exe) against it, inside a private network namespace that has
# only loopback. Writes join.log, host.log, cap.pcap and messages.txt (the capture decoded) to
# DIR (default: a new folder under ${TMPDIR:-$(dirname "$(mktemp -u)")}). Its last line:
#   N of 3 (accepted, aircraft, positions); session name: "<name as the joiner read it>"
# Exit status 0 only for 3 of 3. --arch: 32 (default, the simulator's) or 64. --trace: Wine's
# DirectPlay trace (WINEDEBUG=+dplay) in join.log. --seconds: how long the joiner stays after
# its 4111 (default 4). --enum-ms: how long it searches for sessions (default 3000). --limit: how
# many seconds beyond that it may take before it is stopped (default 40). --winedebug LIST: more
# Wine debug channels. Needs root.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
parse_args "$@"
prepare
run_in_netns one
j=$out/join.log
native=$(native_check "$j")
n=$(score "$j")
echo "host:     $(cat "$out/hostcmd.txt")-> $(sed -n 's/^host: //p' "$out/run.txt")"
echo "joiner:   $(sed -n 's/^arch: //p' "$out/run.txt"), loaded as native: $native; $(sed -n 's/^joiner: //p' "$out/run.txt")"
echo "calls:    $(calls "$j")"
echo "received: $(received "$j")"
echo "logs:     $out (join.log, host.log, cap.pcap, messages.txt, run.txt)"
valid_check "$native"
echo "$n of 3 (accepted, aircraft, positions); session name: $(session_name "$j")"
[ "$n" -eq 3 ] && [ "$native" = yes ]
