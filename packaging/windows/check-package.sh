#!/usr/bin/env bash
# Checks what the windows_installer target made in BUILD/dist (scripts/windows runs this, and so
# does the windows_package test):
#   - airmesh-client.exe is a GUI-subsystem program carrying VERSION and Norvane in its version
#     resource, and its icon;
#   - makensis reported no warning, and the installer is a 64-bit Windows program;
#   - the zip holds exactly the deployed folder, with every file the client needs to start;
#   - in a scratch Wine prefix with no display, the silent installer, run twice (an update over
#     an installed copy), leaves exactly those files and uninstall.exe in Program Files\Airmesh,
#     the Start menu entry and the Add/Remove Programs entry; the installed client starts with
#     nothing but its own folder and shows "airmesh-client VERSION" for --version (in a message
#     box, as Qt does on Windows: Wine's relay trace of MessageBoxW shows its text); the silent
#     uninstaller takes all of it away.
# Usage: check-package.sh BUILD VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
name=airmesh-client-$version
dist=$build/dist/$name
zip=$build/dist/$name-windows-x64.zip
setup=$build/dist/$name-setup.exe
log=$build/packaging/windows/makensis.log
wine=/usr/lib/wine/wine64
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for f in "$dist/airmesh-client.exe" "$zip" "$setup" "$log"; do
    [ -e "$f" ] || { echo "FAIL: $f is missing (build the windows_installer target)" >&2; exit 1; }
done

# The program itself.
headers=$(x86_64-w64-mingw32-objdump -p "$dist/airmesh-client.exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" ||
    fail "airmesh-client.exe is not a GUI-subsystem program"
resources=$(x86_64-w64-mingw32-windres -i "$dist/airmesh-client.exe" -O rc)
for value in "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" '"CompanyName", "Norvane"' \
             '"ProductName", "Airmesh"' '"OriginalFilename", "airmesh-client.exe"'; do
    grep -qF "VALUE $value" <<<"$resources" || fail "airmesh-client.exe's version resource lacks $value"
done
grep -q '"IDI_ICON1" 14 /\* RT_GROUP_ICON \*/' <<<"$resources" || fail "airmesh-client.exe has no icon"

# The installer.
! grep -qi 'warning' "$log" || fail "makensis warned: $(grep -i warning "$log" | head -3)"
kind=$(file -b "$setup")
grep -q '^PE32+ executable (GUI) x86-64.*for MS Windows' <<<"$kind" || fail "the installer is $kind"

# The zip and the folder.
required="airmesh-client.exe fs-standin.exe airmesh-bot.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
          Qt6Network.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll libstdc++-6.dll
          libgcc_s_seh-1.dll libwinpthread-1.dll connected.wav incoming.wav crash.wav README.txt LICENSE.txt"
deployed=$(cd "$dist" && find . -type f | sed 's|^\./||' | sort)
for f in $required; do
    grep -qxF "$f" <<<"$deployed" || fail "$name/$f is missing"
done
zipped=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(while read -r f; do echo "$name/$f"; done <<<"$deployed")
[ "$zipped" = "$expected" ] ||
    fail "the zip does not hold exactly $name/: $(diff <(echo "$expected") <(echo "$zipped") | head -5)"

# Install, start, uninstall, in a prefix of its own; with no display Wine's message boxes return
# at once.
prefix=$(mktemp -d)
cleanup() { WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$prefix"; }
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM QT_PLUGIN_PATH WINEPATH
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot -i >/dev/null 2>&1
installed="$prefix/drive_c/Program Files/Airmesh"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Airmesh'
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Airmesh client.lnk"
# Twice: the second goes over the first, as an update does.
"$wine" "$setup" /S || fail "the silent installer failed"
"$wine" "$setup" /S || fail "the silent installer failed over an installed copy"
if [ -d "$installed" ]; then
    [ "$(cd "$installed" && find . -type f | sed 's|^\./||' | sort)" = "$(printf '%s\nuninstall.exe\n' "$deployed" | sort)" ] ||
        fail "Program Files\\Airmesh does not hold exactly the deployed files and uninstall.exe"
else
    fail "nothing was installed into Program Files\\Airmesh"
fi
[ -f "$shortcut" ] || fail "no Start menu entry"
entry=$("$wine" reg query "$key" 2>/dev/null | tr -d '\r' || true)
for value in "DisplayName    REG_SZ    Airmesh client" "DisplayVersion    REG_SZ    $version" \
             "Publisher    REG_SZ    Norvane" 'DisplayIcon    REG_SZ    C:\Program Files\Airmesh\airmesh-client.exe,0' \
             'UninstallString    REG_SZ    "C:\Program Files\Airmesh\uninstall.exe"'; do
    grep -qF "$value" <<<"$entry" || fail "the Add/Remove Programs entry lacks: $value"
done

"$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f >/dev/null
status=0
shown=$(WINEDEBUG=-all,+relay "$wine" "$installed/airmesh-client.exe" --version 2>&1 | grep 'Call user32.MessageBoxW') || status=$?
if [ "$status" -ne 0 ] || ! grep -qF "L\"airmesh-client $version\\n\"" <<<"$shown"; then
    fail "the installed client did not show its version (exit $status): $shown"
fi

"$wine" "$installed/uninstall.exe" /S
# The uninstaller runs from a copy of itself in %TEMP%: wait for every process of the prefix.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
[ ! -e "$installed" ] || fail "the uninstaller left $(cd "$installed" && find . | head -3)"
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start menu entry"
! "$wine" reg query "$key" >/dev/null 2>&1 || fail "the uninstaller left the Add/Remove Programs entry"

[ "$failures" -eq 0 ] || exit 1
echo "ok: $name folder, zip, installer and uninstaller"
