# shellcheck shell=bash
# common.sh - sourced by joiner.sh and two-joiners.sh: options, setup, the run in a private
# network namespace, and the judging of a joiner's log.
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit "$1"; }

# Sets arch, work, out, winedebug, seconds and host=(HOST-COMMAND...) from the arguments.
parse_args() {
  arch=32 work='' out='' seconds=4 enum_ms=3000 limit=40 winedebug="fixme-all,+loaddll"
  while [ $# -gt 0 ]; do
    case $1 in
      --arch) arch=${2:-}; shift 2 ;;
      --work) work=${2:-}; shift 2 ;;
      --out) out=${2:-}; shift 2 ;;
      --seconds) seconds=${2:-}; shift 2 ;;
      --enum-ms) enum_ms=${2:-}; shift 2 ;;
      --limit) limit=${2:-}; shift 2 ;;
      --trace) winedebug="$winedebug,+dplay"; shift ;;
      --winedebug) winedebug="$winedebug,${2:-}"; shift 2 ;;
      -h|--help) usage 0 ;;
      --) shift; break ;;
      -*) echo "$(basename "$0"): unknown option $1" >&2; usage 2 ;;
      *) break ;;
    esac
  done
  case $arch in 64|32) ;; *) echo "$(basename "$0"): --arch must be 64 or 32" >&2; exit 2 ;; esac
  [[ $seconds =~ ^[0-9]+$ ]] || { echo "$(basename "$0"): --seconds needs a number" >&2; exit 2; }
  [[ $enum_ms =~ ^[0-9]+$ ]] || { echo "$(basename "$0"): --enum-ms needs a number" >&2; exit 2; }
  [[ $limit =~ ^[0-9]+$ ]] || { echo "$(basename "$0"): --limit needs a number" >&2; exit 2; }
  [ $# -ge 1 ] || usage 2
  host=("$@")
}

# Runs setup.sh, prepares the log folder $out (made absolute) and locks the work folder $W.
prepare() {
  if ! W=$("$HERE/setup.sh" --arch "$arch" ${work:+--work "$work"} | tail -n 1) || [ ! -d "$W/prefix" ]; then
    echo "$(basename "$0"): setup failed" >&2; exit 2
  fi
  if [ -z "$out" ]; then
    out=$(mktemp -d "${TMPDIR:-$(dirname "$(mktemp -u)")}/dplay-join.XXXXXX")
  else
    mkdir -p "$out" || exit 2
    (cd "$out" && rm -f run.txt netns.err tcpdump.err cap.pcap messages.txt host.log \
                        join.raw join.log joinA.raw joinA.log joinB.raw joinB.log)
  fi
  out=$(cd "$out" && pwd)
  exec 9>"$W/lock"
  flock -w 600 9 || { echo "$(basename "$0"): $W is busy (its lock is held)" >&2; exit 2; }
  WINEPREFIX=$W/prefix wineserver -k 2>/dev/null 9>&-   # a wineserver left outside would serve the wrong network
  printf '%q ' "${host[@]}" > "$out/hostcmd.txt"
  echo "arch: $arch-bit, Wine $(cat "$W/w10/version") dplayx.dll and dpwsockx.dll" > "$out/run.txt"
}

# MODE (one|two): runs netns.sh in a new network namespace that has only loopback. On INT, TERM
# or HUP it has netns.sh stop what it started, then exits with 130.
run_in_netns() {
  local pid rc interrupted='' logs=(join.log)
  [ "$1" = one ] || logs=(joinA.log joinB.log)
  DJ_WORK=$W DJ_OUT=$out DJ_WINEDEBUG=$winedebug DJ_SECONDS=$seconds DJ_ENUM_MS=$enum_ms DJ_LIMIT=$limit \
    unshare -n "$HERE/netns.sh" "$1" "${host[@]}" 2>"$out/netns.err" 9>&- &
  pid=$!
  trap 'interrupted=1; kill -TERM "$pid" 2>/dev/null' INT TERM HUP
  wait "$pid"; rc=$?
  while kill -0 "$pid" 2>/dev/null; do wait "$pid"; rc=$?; done
  trap - INT TERM HUP
  local r
  for r in "$out"/join*.raw; do
    [ -f "$r" ] && clean_log "$r" "${r%.raw}.log" && rm -f "$r"
  done
  for r in "${logs[@]}"; do
    [ -f "$out/$r" ] || echo "(the joiner did not run: see run.txt)" > "$out/$r"
  done
  [ -s "$out/cap.pcap" ] && [ -f "$HERE/dpdecode.py" ] &&
    python3 "$HERE/dpdecode.py" "$out/cap.pcap" > "$out/messages.txt" 2>&1
  [ -z "$interrupted" ] || { echo "$(basename "$0"): interrupted; logs in $out" >&2; exit 130; }
  return $rc
}

# RAW LOG: the joiner's output without Wine's module-load lines, except dplayx's and dpwsockx's.
clean_log() {
  grep -vE 'trace:loaddll:' "$1" > "$2"
  grep -E 'trace:loaddll:.*\\(dplayx|dpwsockx)\.dll"' "$1" | sort -u >> "$2"
}

# LOG: "yes" if Wine loaded Wine 10's dplayx.dll and dpwsockx.dll (native), else what it loaded.
native_check() {
  local d how all=yes
  grep -q 'dpjoin start' "$1" || { echo "(the joiner did not run)"; return; }
  for d in dplayx dpwsockx; do
    how=$(grep -oE "\\\\$d\\.dll\" at [0-9A-Fa-f]+: [a-z]+" "$1" | head -n 1 | awk '{print $NF}')
    [ "$how" = native ] || all="no ($d.dll: ${how:-not loaded})"
  done
  echo "$all"
}

# LOG: a warning when the joiner ran without Wine 10's DLLs (so the result says nothing).
valid_check() {
  case $1 in yes|"(the joiner did not run)") ;;
    *) echo "NOT A VALID CHECK: Wine did not load Wine 10's dplayx.dll and dpwsockx.dll as native" ;; esac
}

count() { grep -cE "^\[ *[0-9.]+\] RECV APP .* msg=$2 " "$1"; }

# LOG: 0..3, one for each of: 4100 came back, 4110 came, at least one 4121 came.
score() {
  local n=0
  grep -qE '^\[ *[0-9.]+\] got 4100 ' "$1" && n=$((n + 1))
  [ "$(count "$1" 4110)" -ge 1 ] && n=$((n + 1))
  [ "$(count "$1" 4121)" -ge 1 ] && n=$((n + 1))
  echo $n
}

# LOG: the first session's name as the joiner read it, quoted, or "(no session found)".
session_name() {
  local s
  s=$(grep -m 1 -oE '^\[ *[0-9.]+\] SESSION ".*" flags=' "$1" | sed -E 's/^[^"]*(".*") flags=$/\1/')
  echo "${s:-(no session found)}"
}

# LOG: one line with the joiner's DirectPlay calls and their results.
calls() {
  awk '/^\[ *[0-9.]+\] +(EnumSessions|Open|CreatePlayer)/ && / -> 0x/ {
         sub(/^\[ *[0-9.]+\] +/, ""); what = $0; sub(/ *-> .*/, "", what)
         split($0, r, "-> "); printf "%s%s -> %s", sep, what, r[2]; sep = "; " }
       /^no session found/ { printf "%sno session found", sep; sep = "; " }
       END { print (sep == "" ? "(none: see the log)" : "") }' "$1"
}

# LOG: how many 4100, 4110 and 4121 came.
received() { echo "4100 x$(count "$1" 4100), 4110 x$(count "$1" 4110), 4121 x$(count "$1" 4121)"; }
