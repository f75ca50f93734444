#!/usr/bin/env bash
# The Debian packages as a user gets them. Built from the given build tree (no compile) by
# scripts/package, they must hold exactly the files of contents.txt, depend on the packages of
# every library their programs load, and pass lintian, desktop-file-validate, appstreamcli and
# systemd-analyze. Unpacked into a scratch root, the installed fs-standin hosts a session and the
# installed airmesh-client is started as a desktop starts it (an ordinary user, in the home
# folder, its program folder read-only): it must find the simulator in the user's winetricks
# prefix, join, and keep its settings in ~/.config/airmesh and its log in ~/.local/state/airmesh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/airmesh-package.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}

# ---- Build
"$src/scripts/package" --build "$build" --out "$work/debs" > "$work/package.log" 2>&1 ||
    { cat "$work/package.log" >&2; fail "scripts/package failed"; }
debs=("$work"/debs/airmesh-client_*.deb "$work"/debs/airmesh-server_*.deb)
[ -f "${debs[0]}" ] && [ -f "${debs[1]}" ] || fail "no packages: $(ls "$work/debs")"

# ---- Contents: every file and its mode
for deb in "${debs[@]}"; do
    dpkg-deb -c "$deb" | awk -v p="$(dpkg-deb -f "$deb" Package)" '$1 !~ /^d/ { sub(/^\./, "", $6); print p, $1, $6 }'
done | sort -k1,1 -k3,3 > "$work/contents.txt"
diff -u <(grep -v '^#' "$here/contents.txt") "$work/contents.txt" || fail "the packages' files differ from contents.txt"

# ---- Dependencies: the package of every library a program loads is among its Depends
mkdir -p "$work/root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/root"; done
owner() { # a library's path -> the package holding it, whichever way /usr is merged
    local p
    for p in "$1" "${1#/usr}" "/usr$1"; do
        dpkg -S "$p" 2>/dev/null | head -n1 | cut -d: -f1 && return 0
    done
    return 1
}
for deb in "${debs[@]}"; do
    depends=$(dpkg-deb -f "$deb" Depends)
    names=$(sed 's/([^)]*)//g; s/|/,/g' <<< "$depends" | tr ',' '\n' | tr -d ' ')
    for program in $(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $6 ~ /^\.\/usr\/bin\// { sub(/^\./, "", $6); print $6 }'); do
        libs=$(ldd "$work/root$program")
        for name in $(readelf -d "$work/root$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
            # "name => /path (address)", or "/path (address)" for the loader itself
            lib=$(awk -v n="$name" '$1 == n && $3 ~ /^\// { print $3 }
                                    substr($1, length($1) - length(n)) == "/" n { print $1 }' <<< "$libs")
            [ -n "$lib" ] || fail "$program: $name not found"
            pkg=$(owner "$(realpath "$lib")") || pkg=$(owner "$lib") || fail "$program: no package holds $lib"
            grep -qxF "$pkg" <<< "$names" || fail "$program needs $lib of $pkg, not in Depends: $depends"
        done
    done
done

# ---- Validators
lintian --fail-on error,warning "${debs[@]}" > "$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian found errors or warnings"; }
desktop-file-validate "$work"/root/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml > "$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
# The unit as systemd reads it, with its program where it was unpacked; any remark is a fault.
sed "s|/usr/bin/|$work/root/usr/bin/|" "$work/root/lib/systemd/system/airmesh-server.service" > "$work/airmesh-server.service"
remarks=$(systemd-analyze verify --man=no "$work/airmesh-server.service" 2>&1) && [ -z "$remarks" ] ||
    fail "systemd-analyze verify: $remarks"
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# ---- The installed programs, as an ordinary user would start them
user=$(id -un)
as_user=()
if [ "$(id -u)" -eq 0 ]; then # root writes anywhere: the user is nobody
    user=nobody
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
home="$work/home"
fsdir="$home/.local/share/wineprefixes/fs2002/drive_c/Program Files/Microsoft Games/FS2002"
mkdir -p "$fsdir/Aircraft/c172" "$work/run"
: > "$fsdir/FS2000.EXE"
printf '[fltsim.0]\r\ntitle=Cessna Skyhawk\r\n' > "$fsdir/Aircraft/c172/aircraft.cfg"
chown -R "$user" "$home" "$work/run"
chmod 700 "$work/run"
chmod 755 "$work"
chmod -R a-w "$work/root/usr"
touch "$work/started"

mkfifo "$work/fs.in"
"$work/root/usr/bin/fs-standin" --enum-port 0 --handle PackagePilot --quiet-session < "$work/fs.in" > "$work/fs.log" 2>&1 &
pids+=($!)
exec 7> "$work/fs.in" # its standard input stays open while the test runs
for _ in $(seq 1 100); do grep -q "hosting" "$work/fs.log" 2>/dev/null && break; sleep 0.1; done
enum=$(grep -o 'session searches on UDP [0-9]*' "$work/fs.log" | grep -o '[0-9]*$') || { cat "$work/fs.log" >&2; fail "fs-standin did not start"; }

cd "$home"
"${as_user[@]}" env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$work/root/usr/bin/airmesh-client" "127.0.0.1:$enum" <<'INNER' || { cat "$work/fs.log" >&2; fail "driving the installed client failed"; }
set -euo pipefail
out="$XDG_RUNTIME_DIR/client.out"
"$1" > "$out" 2>&1 & pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
find_window() { # exact title -> window id, waiting up to 30 s
    for _ in $(seq 1 150); do
        for w in $(xdotool search --onlyvisible --name "^$1" 2>/dev/null); do
            [ "$(xdotool getwindowname "$w")" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.2
    done
    echo "window '$1' did not appear" >&2; cat "$out" >&2
    return 1
}
press() { xdotool windowfocus --sync "$1"; xdotool key "$2"; }
press "$(find_window "Airmesh Client Module")" Return # agree: the simulator is found, no picker
prompt=$(find_window "Locate Session")
press "$prompt" ctrl+a
xdotool type "$2"
press "$prompt" Return
press "$(find_window "Norvane Airmesh Client")" alt+c # Cancel quits
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
! kill -0 "$pid" 2>/dev/null || { echo "the client did not end" >&2; exit 1; }
INNER

ini="$home/.config/airmesh/AirmeshClient.ini"
log="$home/.local/state/airmesh/log.txt"
[ -f "$ini" ] || fail "no settings file in ~/.config/airmesh: $(find "$home" -newer "$work/started" -type f)"
[ "$(stat -c %a "$ini")" = 600 ] || fail "settings file readable by others: $(stat -c %a "$ini")"
grep -qF "FSDir=$fsdir/" "$ini" || fail "the found simulator folder was not kept: $(cat "$ini")"
grep -qF "SessionHost=127.0.0.1:$enum" "$ini" || fail "no session host in the settings: $(cat "$ini")"
grep -q ' - Your Handle in the game is PackagePilot' "$log" || fail "no handle line in ~/.local/state/airmesh/log.txt"
grep -q 'observer joined' "$work/fs.log" || fail "fs-standin saw no observer: $(cat "$work/fs.log")"
written=$(find "$home" "$work/root" -newer "$work/started" -type f ! -path "$ini" ! -path "$log" ! -path "$home/.cache/*")
[ -z "$written" ] || fail "files written outside the user's folders: $written"
echo "package test: $(for d in "${debs[@]}"; do printf '%s %s KiB; ' "$(basename "$d")" "$(du -k "$d" | cut -f1)"; done)installed client kept its settings and log per user"
