#!/bin/bash
# setup.sh [--arch 64|32] [--work DIR]
# Sets up a real DirectPlay 4 joiner: Wine 10's dplayx.dll and dpwsockx.dll, loaded as native DLLs
# into Debian 12's Wine in a headless prefix, and dpjoin.exe built from dpjoin.c.
# Idempotent: a second run only checks. Prints the work folder as its last line.
# Default arch 32 (the simulator's own), default work folder ${TMPDIR:-$(dirname "$(mktemp -u)")}/dplay-joiner-<arch>.
# Needs root (apt-get). Progress goes to stderr.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=32 W=
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=${2:-}; shift 2 ;;
    --work) W=${2:-}; shift 2 ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "setup.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
log() { echo "[setup $arch] $*" >&2; }
die() { log "$*"; exit 2; }
case $arch in
  64) pkgs=(wine wine64 gcc-mingw-w64-x86-64-win32) cc=x86_64-w64-mingw32-gcc winearch=win64 loader=wine64
      debarch=amd64 dlldir=usr/lib/x86_64-linux-gnu/wine/x86_64-windows ;;
  32) pkgs=(wine wine32:i386 gcc-mingw-w64-i686-win32) cc=i686-w64-mingw32-gcc winearch=win32 loader=wine
      debarch=i386 dlldir=usr/lib/i386-linux-gnu/wine/i386-windows ;;
  *) die "--arch must be 64 or 32" ;;
esac
pkgs+=(tcpdump iproute2 util-linux python3)
W=${W:-${TMPDIR:-$(dirname "$(mktemp -u)")}/dplay-joiner-$arch}
mkdir -p "$W" || die "cannot create $W"
W=$(cd "$W" && pwd)
[ "$(id -u)" = 0 ] || die "needs root (apt-get; the runs need unshare -n and tcpdump)"
exec 9>"$W/lock"
flock -w 900 9 || die "$W is busy (another setup or run holds $W/lock)"
[ ! -f "$W/arch" ] || [ "$(cat "$W/arch")" = "$arch" ] || die "$W was set up for --arch $(cat "$W/arch")"
echo "$arch" > "$W/arch"
# The loader of this arch itself: /usr/bin/wine would start a 64-bit program through the 32-bit
# loader whenever wine32 is installed too.
export WINEARCH=$winearch WINEPREFIX=$W/prefix WINEDEBUG=-all WINELOADER=/usr/lib/wine/$loader
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# 1. Debian packages (the 32-bit joiner needs the i386 architecture and Debian's 32-bit Wine)
missing() { local n; n=$(dpkg-query -W -f='${db:Status-Status}\n' "${pkgs[@]}" 2>/dev/null | grep -cx installed)
            [ "$n" -ne "${#pkgs[@]}" ]; }
if [ "$arch" = 32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture (dpkg --add-architecture i386)"
  dpkg --add-architecture i386 || die "dpkg --add-architecture i386 failed"
  force_update=1
fi
if [ -n "${force_update:-}" ] || missing; then
  log "installing ${pkgs[*]} (log: $W/apt.log)"
  { apt-get -o DPkg::Lock::Timeout=900 update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends "${pkgs[@]}"; } >"$W/apt.log" 2>&1 9>&- \
    || { tail -n 5 "$W/apt.log" >&2; die "apt-get failed, see $W/apt.log"; }
  missing && die "packages still missing after apt-get: ${pkgs[*]}"
fi
for c in "$WINELOADER" wineserver "$cc" tcpdump unshare ss flock python3; do
  command -v "$c" >/dev/null || die "no $c on PATH"
done

# 2. the joiner program
mkdir -p "$W/bin"
if [ ! -f "$W/bin/dpjoin.exe" ] || [ "$HERE/dpjoin.c" -nt "$W/bin/dpjoin.exe" ] ||
   [ "$HERE/dpcommon.h" -nt "$W/bin/dpjoin.exe" ]; then
  log "building dpjoin.exe with $cc"
  "$cc" -O1 -Wall -Wextra -o "$W/bin/dpjoin.exe.tmp" "$HERE/dpjoin.c" -lole32 -luuid ||
    die "building dpjoin.exe failed"
  mv "$W/bin/dpjoin.exe.tmp" "$W/bin/dpjoin.exe"
fi

# 3. a headless prefix: Graphics=null, or CoInitialize waits for an X display that is not there
if [ ! -f "$W/prefix.done" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  log "creating the $winearch prefix $WINEPREFIX (log: $W/wineboot.log)"
  wineserver -k 2>/dev/null 9>&-
  if [ -d "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/system.reg" ] && [ -n "$(ls -A "$WINEPREFIX")" ]; then
    die "$WINEPREFIX exists and is not a Wine prefix; not replacing it"
  fi
  rm -rf "$WINEPREFIX"
  { timeout 300 "$WINELOADER" wineboot -i &&
    timeout 120 "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f &&
    timeout 120 wineserver -w; } >"$W/wineboot.log" 2>&1 9>&- || die "wineboot failed, see $W/wineboot.log"
  grep -q "^#arch=$winearch" "$WINEPREFIX/system.reg" || die "$WINEPREFIX is not a $winearch prefix"
  touch "$W/prefix.done"
fi

# 4. Wine 10's dplayx/dpwsockx, from Debian 13's libwine package, fetched with a separate apt
#    state in $W/apt13 (nothing is installed, the system's apt state is not touched)
if [ ! -f "$W/w10/dpwsockx.dll" ]; then
  log "fetching Wine 10's libwine:$debarch from Debian 13 (trixie)"
  A=$W/apt13; rm -rf "$A"; mkdir -p "$A/lists/partial" "$A/cache/archives/partial" "$A/pref.d"
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; exit } }' \
                         /etc/apt/sources.list 2>/dev/null)
  [ -n "$uri" ] || die "no Debian mirror found in the apt sources"
  echo "deb $uri trixie main" > "$A/sources.list"
  APTX=(-o Dir::Etc::SourceList="$A/sources.list" -o Dir::Etc::SourceParts=/nonexistent
        -o Dir::State::Lists="$A/lists" -o Dir::Cache="$A/cache" -o Dir::Etc::Preferences=/nonexistent
        -o Dir::Etc::PreferencesParts="$A/pref.d" -o Dir::State::status=/dev/null
        -o "APT::Architectures::=$debarch")
  apt-get "${APTX[@]}" update -q >"$A/update.log" 2>&1 9>&- || die "apt-get update (trixie) failed, see $A/update.log"
  (cd "$A" && apt-get "${APTX[@]}" download "libwine:$debarch") >"$A/download.log" 2>&1 9>&- \
    || die "downloading libwine:$debarch from trixie failed, see $A/download.log"
  debs=("$A"/libwine_*_"$debarch".deb); deb=${debs[0]}
  [ -f "$deb" ] || die "no libwine_*_$debarch.deb in $A"
  rm -rf "$A/x" "$W/w10.tmp"; mkdir -p "$A/x" "$W/w10.tmp"
  dpkg-deb -x "$deb" "$A/x" || die "dpkg-deb -x $deb failed"
  for d in dplayx dpwsockx; do
    # Wine refuses to load a file marked "Wine builtin DLL" as a native DLL: blank the mark
    python3 - "$A/x/$dlldir/$d.dll" "$W/w10.tmp/$d.dll" <<'PY' || die "patching $d.dll failed"
import sys
b = bytearray(open(sys.argv[1], "rb").read())
i = b.find(b"Wine builtin DLL")
assert 0 <= i < 0x100, "no builtin mark in the DOS header"
b[i:i + 16] = bytes(16)
open(sys.argv[2], "wb").write(b)
PY
  done
  basename "$deb" .deb | sed 's/^libwine_//' > "$W/w10.tmp/version"
  rm -rf "$W/w10" && mv "$W/w10.tmp" "$W/w10"
  rm -rf "$A/x" "$A/lists" "$A/cache" "$deb"
fi
# a win64 prefix keeps 64-bit DLLs in system32, and so does a win32 prefix (which has no syswow64)
cp "$W/w10/dplayx.dll" "$W/w10/dpwsockx.dll" "$WINEPREFIX/drive_c/windows/system32/" || die "copying the DLLs failed"
echo "$W"
