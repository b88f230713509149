#!/usr/bin/env bash
# The Windows installer, built from a stand-in program folder and run under Wine in a prefix of its
# own: a silent install puts the program, its uploader and the Start-menu entry with the Japanese
# name in place; the uninstaller takes them away again but leaves the user's settings.
# Skipped (77) where makensis or Wine is missing.
set -u
root="$1"
command -v makensis >/dev/null 2>&1 || { echo "makensis missing: skipped"; exit 77; }
command -v wine >/dev/null 2>&1 || { echo "wine missing: skipped"; exit 77; }

work="$(mktemp -d)"
trap 'WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fail() { echo "FAIL: $*" >&2; exit 1; }

deploy="$work/deploy/nx7ifbprog"
mkdir -p "$deploy/platforms"
for f in nx7ifbprog.exe espota.exe Qt6Core.dll platforms/qwindows.dll; do echo "$f" >"$deploy/$f"; done
makensis -V2 -DDEPLOY="$deploy" -DVERSION=1.2.3 -DOUTFILE="$work/nx7-installer.exe" \
    "$root/packaging/windows/nx7ifbprog.nsi" || fail "makensis"
file "$work/nx7-installer.exe" | grep -q 'PE32+' || fail "the installer is no 64-bit Windows program"

wineboot -i >/dev/null 2>&1
timeout 120 wine "$work/nx7-installer.exe" /S || fail "the silent install"
wineserver -w
dir="$WINEPREFIX/drive_c/Program Files/Orvanta/nx7ifbprog"
for f in nx7ifbprog.exe espota.exe Qt6Core.dll platforms/qwindows.dll uninstall.exe; do
    [ -f "$dir/$f" ] || fail "not installed: $f"
done
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvanta"
[ -f "$menu/I／Fボード ファームウェアアップデート.lnk" ] || fail "no Start-menu entry: $(ls "$menu" 2>&1)"

# The settings the tool wrote beside itself stay when the program goes.
mkdir -p "$dir/Orvanta" && printf '[Option]\r\nComPort=9\r\n' >"$dir/Orvanta/nx7ifbprog.ini"
timeout 120 wine "C:\\Program Files\\Orvanta\\nx7ifbprog\\uninstall.exe" /S || fail "the silent uninstall"
wineserver -w
for _ in $(seq 1 50); do [ -f "$dir/nx7ifbprog.exe" ] || break; sleep 0.2; done
for f in nx7ifbprog.exe espota.exe Qt6Core.dll platforms uninstall.exe; do
    [ -e "$dir/$f" ] && fail "left behind: $f"
done
[ -f "$dir/Orvanta/nx7ifbprog.ini" ] || fail "the uninstaller removed the settings"
[ -e "$menu" ] && fail "the Start-menu folder is left"
echo "PASS"
