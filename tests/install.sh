#!/usr/bin/env bash
# An installed qzhost works from any prefix and any working folder: it finds
# its module relative to itself and renders the same bytes as the build tree's.
# Usage: install.sh prefix|package BUILD_DIR VERSION
#   prefix   installs into a temporary prefix with `cmake --install`
#   package  builds the Debian package, checks its control fields and runs it
#            extracted into a temporary folder (nothing is installed system-wide)
set -euo pipefail
mode=$1 build=$2 version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The qzhost and module installed under ROOT say the version, and render one
# small frame of the built-in scene, from a folder that holds nothing of the
# build, with the bytes of the build's.
works_like_build() {  # works_like_build ROOT NAME
    local qzhost=$1/bin/qzhost name=$2 module
    module=$(find "$1/lib" -name vorlux.p)
    [ -n "$module" ] || fail "$name: no module installed under lib/"
    [ "$("$qzhost" --version)" = "qzhost $version" ] || fail "--version says '$("$qzhost" --version)'"
    "$qzhost" describe "$module" | head -1 | grep -qx "qzhost $version" || fail "describe does not say the version"
    mkdir -p "$tmp/$name-cwd"
    (cd "$tmp/$name-cwd" && "$qzhost" render -o frames --frames 40-40 --size 96x54 --quiet) ||
        fail "$name: render failed"
    "$build/bin/qzhost" render -o "$tmp/reference" --frames 40-40 --size 96x54 --quiet
    cmp "$tmp/$name-cwd/frames/frame-0040.png" "$tmp/reference/frame-0040.png" ||
        fail "$name: frame differs from the build tree's"
}

case $mode in
prefix)
    cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
    [ -f "$tmp/prefix/share/doc/qzhost/README.md" ] || fail "README not installed"
    # A copy of the build tree's modules folder must not be what it uses.
    [ ! -e "$tmp/prefix/bin/modules" ] || fail "modules installed beside the executable"
    works_like_build "$tmp/prefix" installed
    ;;
package)
    (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1) ||
        { cat "$tmp/cpack.log" >&2; fail "cpack failed"; }
    deb=$(echo "$tmp"/deb/qzhost_*.deb)
    [ -f "$deb" ] || fail "no qzhost_*.deb made"
    field() { dpkg-deb -f "$deb" "$1"; }
    for expected in Package=qzhost "Version=$version" "Architecture=$(dpkg --print-architecture)" Recommends=ffmpeg; do
        [ "$(field "${expected%%=*}")" = "${expected#*=}" ] || fail "${expected%%=*}: $(field "${expected%%=*}")"
    done
    for library in libc6 libstdc++6 libpng16-16 libsqlite3-0 libopenexr; do
        field Depends | grep -q "$library" || fail "Depends lacks $library: $(field Depends)"
    done
    field Suggests | grep -q slurm-client || fail "Suggests: $(field Suggests)"
    dpkg-deb -x "$deb" "$tmp/root"
    works_like_build "$tmp/root/usr" packaged
    ;;
*) fail "unknown mode '$mode'" ;;
esac
echo "ok: $mode"
