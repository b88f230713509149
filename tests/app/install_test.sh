#!/bin/sh
# Installs the build into a temporary prefix, checks the launcher, the icons and the AppStream
# record with the desktop's own validators, runs the installed executable, then builds the .deb
# and inspects it. Exit 77 (skipped) when a validator or packaging tool is not installed.
# Usage: install_test.sh <build dir> <project version>
set -u
build=$1
version=$2
app_id=com.orvanta.nx7ifbprog

for tool in desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps file; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (desktop-file-utils, appstream, dpkg-dev, file)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    fail "cmake --install"
}

exe=$prefix/bin/nx7ifbprog
desktop=$prefix/share/applications/$app_id.desktop
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml

[ -x "$exe" ] || fail "no executable in bin/"
[ -x "$prefix/libexec/nx7ifbprog/espota" ] || fail "no uploader in libexec/nx7ifbprog/"
out=$("$exe" --version 2>&1) || fail "installed --version exits $?"
[ "$out" = "nx7ifbprog $version" ] || fail "installed --version printed '$out'"

if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    grep -qx 'Name=I/F Board Firmware Update' "$desktop" || fail "launcher without Name"
    grep -qx 'Name\[ja\]=I/Fボード ファームウェアアップデート' "$desktop" || fail "launcher without Name[ja]"
    grep -qx 'Exec=nx7ifbprog' "$desktop" || fail "launcher does not run nx7ifbprog"
    grep -qx "Icon=$app_id" "$desktop" || fail "launcher names another icon"
else
    fail "no launcher in share/applications"
fi

if [ -f "$metainfo" ]; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "metadata without release $version"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "metadata does not point at the launcher"
else
    fail "no AppStream metadata in share/metainfo"
fi

icons=$prefix/share/icons/hicolor
[ -f "$icons/scalable/apps/$app_id.svg" ] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256; do
    png=$icons/${size}x$size/apps/$app_id.png
    if [ -f "$png" ]; then
        file -b "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not a $size-pixel PNG"
    else
        fail "no $size-pixel icon"
    fi
done

# The package: built from the same install rules, library dependencies found by dpkg-shlibdeps.
if (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1); then
    deb=$(ls "$work"/pkg/*.deb 2>/dev/null | head -n 1)
    if [ -n "$deb" ]; then
        depends=$(dpkg-deb -f "$deb" Depends)
        echo "Depends: $depends"
        for dep in libqt6widgets6 libqt6serialport6 libqt6network6 libc6 qt6-translations-l10n; do
            echo "$depends" | grep -q "\\b$dep\\b" || fail "package does not depend on $dep"
        done
        [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
        dpkg-deb -I "$deb" >/dev/null || fail "dpkg-deb -I"
        dpkg-deb -c "$deb" >"$work/contents.txt" || fail "dpkg-deb -c"
        for path in ./usr/bin/nx7ifbprog ./usr/libexec/nx7ifbprog/espota ./usr/share/applications/$app_id.desktop \
            ./usr/share/metainfo/$app_id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/$app_id.svg \
            ./usr/share/icons/hicolor/48x48/apps/$app_id.png; do
            grep -q " $path\$" "$work/contents.txt" || fail "package lacks $path"
        done
    else
        fail "cpack made no .deb"
    fi
else
    cat "$work/cpack.log"
    fail "cpack -G DEB"
fi

[ "$failures" -eq 0 ] || exit 1
echo "install tree and package OK"
