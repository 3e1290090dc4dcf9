#!/usr/bin/env bash
# Builds the Debian package and checks what it holds: the desktop entry and the metainfo pass
# their validators, the man pages render without a warning, and the unpacked programs run.
# Usage: tools/check-package.sh [BUILD_FOLDER]   (default: build, already configured)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

cmake --build "$build" --target package >"$build/package.log" 2>&1 || {
    cat "$build/package.log"
    exit 1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$(ls "$build"/tintavo_"$version"_*.deb)
echo "package: $deb"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

failed=0
check() { # check NAME COMMAND...: runs the command, reports and counts a failure
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        failed=1
    fi
}
silent() { # silent COMMAND...: fails when the command fails or prints anything
    local out
    out=$("$@" 2>&1) || {
        printf '%s\n' "$out"
        return 1
    }
    [ -z "$out" ] || {
        printf '%s\n' "$out"
        return 1
    }
}
man_renders_cleanly() {
    silent sh -c "LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z '$1' 2>&1 >/dev/null"
}
prints_version() { # prints_version PROGRAM: "NAME VERSION" and nothing else, exit 0
    local out
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$1" --version) &&
        [ "$out" = "$(basename "$1") $version" ] || {
        echo "$1 --version said: $out"
        return 1
    }
}

share="$unpacked/usr/share"
check "desktop entry" silent desktop-file-validate "$share/applications/orvane-tintavo.desktop"
check "desktop entry names the installed program" \
    grep -qx "TryExec=/usr/bin/tintavo" "$share/applications/orvane-tintavo.desktop"
check "metainfo" appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml
for size in 16 22 24 32 48 64 128 256; do
    check "icon ${size}x${size}" test -s "$share/icons/hicolor/${size}x${size}/apps/orvane-tintavo.png"
done
check "scalable icon" test -s "$share/icons/hicolor/scalable/apps/orvane-tintavo.svg"
check "man page tintavo.1 in the package" test -s "$share/man/man1/tintavo.1"
for page in "$share"/man/man1/*; do
    check "man page $(basename "$page") renders without warnings" man_renders_cleanly "$page"
done
completion="$share/bash-completion/completions/tintavo-cli"
if [ -e "$completion" ]; then
    check "bash completion parses" bash -n "$completion"
fi
for program in tintavo tintavo-cli; do
    check "$program --version" prints_version "$unpacked/usr/bin/$program"
done
check "library dependencies read from the programs" \
    sh -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"
exit $failed
