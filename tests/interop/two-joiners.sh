#!/bin/bash
# two-joiners.sh [--arch 64|32] [--trace] [--out DIR] [--enum-ms N] [--limit N] [--work DIR] HOST-COMMAND...
# Two real joiners in turn against one host, as joiner.sh runs one (same options): A joins and
# stays while B joins and leaves (8 s plus twice the search time after its 4111);
# B starts once A has its answer to 4098, so B joins (and leaves) while A is in the session and
# the host's player list sent to B holds A's player. Writes joinA.log, joinB.log, host.log,
# cap.pcap and messages.txt to DIR. Its last line:
#   A: N of 3, B: M of 3
# Exit status 0 only when both get 3 of 3. Needs root.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
parse_args "$@"
prepare
run_in_netns two
native=yes nA=0 nB=0
for x in A B; do
  j=$out/join$x.log
  nat=$(native_check "$j"); [ "$nat" = yes ] || native=$nat
  if [ $x = A ]; then nA=$(score "$j"); else nB=$(score "$j"); fi
  st=$(sed -n "s/^joiner $x: //p" "$out/run.txt")
  echo "joiner $x: $(calls "$j"); received $(received "$j"); ${st:-not started}"
done
echo "host:     $(cat "$out/hostcmd.txt")-> $(sed -n 's/^host: //p' "$out/run.txt")"
echo "joiners:  $(sed -n 's/^arch: //p' "$out/run.txt"), loaded as native: $native"
st=$(sed -n 's/^A in the session while B joined and left: //p' "$out/run.txt")
echo "A in the session while B joined and left: ${st:-no (not started)}"
echo "players B knew after joining: $(grep -oE '^ +player 0x[0-9a-f]+ flags=0x[0-9a-f]+ ".*"' "$out/joinB.log" |
                                      sed -E 's/.*"(.*)"$/\1/' | paste -sd, | sed 's/,/, /g')"
echo "session name (A, B): $(session_name "$out/joinA.log"), $(session_name "$out/joinB.log")"
echo "logs:     $out (joinA.log, joinB.log, host.log, cap.pcap, messages.txt, run.txt)"
valid_check "$native"
echo "A: $nA of 3, B: $nB of 3"
[ "$nA" -eq 3 ] && [ "$nB" -eq 3 ] && [ "$native" = yes ]
