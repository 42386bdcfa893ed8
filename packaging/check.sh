#!/usr/bin/env bash
# Checks the release packages of this commit: makes them in two fresh clones
# in different folders and compares them byte for byte, checks each
# package's contents and programs, and runs the end-to-end tests against the
# packaged programs (the Windows ones under Wine). Needs the build trees of
# the default, windows and windows32 presets for their end-to-end runners.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# Two clones, in folders of different names and depths, built one after
# the other.
git clone -q "$root" "$work/first/romcutter"
git clone -q "$root" "$work/second/elsewhere/romcutter"
for clone in "$work/first/romcutter" "$work/second/elsewhere/romcutter"; do
    echo "== packaging/release.sh in $clone"
    "$clone/packaging/release.sh"
done
dist=$work/first/romcutter/build/dist
echo "== the two clones' packages are byte-identical"
diff -r "$dist" "$work/second/elsewhere/romcutter/build/dist" || fail "the packages differ"
(cd "$dist" && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not match"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
    "$work/first/romcutter/build/dist-linux/CMakeCache.txt")
unpacked=$work/unpacked
mkdir "$unpacked"
for zip in "$dist"/*.zip; do
    python3 -m zipfile -e "$zip" "$unpacked"
done
tar -xzf "$dist/romcutter-$version-linux-x86_64.tar.gz" -C "$unpacked"

# platform, program, README, LICENSE, line ends of the texts
while read -r platform program readme license ends; do
    folder=$unpacked/romcutter-$version-$platform
    echo "== romcutter-$version-$platform"
    listing=$(cd "$folder" && ls -A | sort | tr '\n' ' ')
    expected=$(printf '%s\n' "$program" "$readme" "$license" | sort | tr '\n' ' ')
    [[ $listing == "$expected" ]] || fail "$platform holds $listing, not $expected"
    for text in "$readme" "$license"; do
        crlf_lines=$(grep -c $'\r$' "$folder/$text" || true)
        all_lines=$(wc -l <"$folder/$text")
        if [[ $ends == crlf ]]; then
            ((crlf_lines == all_lines)) || fail "$platform/$text has lines without CRLF"
        else
            ((crlf_lines == 0)) || fail "$platform/$text has CRLF line ends"
        fi
    done
    grep -q -F "$work" "$folder/$program" && fail "$platform/$program holds a build path"
    # The user guide whole, and nothing of the developers' part.
    grep -q '^# NOVLAR ROM CUTTER' "$folder/$readme" &&
        grep -q '^## Checking a download' "$folder/$readme" &&
        ! grep -q -e '<!--' -e 'apt-get' "$folder/$readme" ||
        fail "$platform/$readme is not the user guide"
done <<TABLE
win64 romcutter.exe README.txt LICENSE.txt crlf
win32 romcutter.exe README.txt LICENSE.txt crlf
linux-x86_64 romcutter README LICENSE lf
TABLE

echo "== the programs"
linux=$unpacked/romcutter-$version-linux-x86_64/romcutter
readelf -d "$linux" | grep -q NEEDED && fail "the Linux program needs shared libraries"
readelf -l "$linux" | grep -q INTERP && fail "the Linux program names a dynamic loader"
# word size, cross tools, PE format, build tree of the end-to-end runner
windows=$'64 x86_64-w64-mingw32 pei-x86-64 windows\n32 i686-w64-mingw32 pei-i386 windows32'
while read -r bits triplet format _; do
    exe=$unpacked/romcutter-$version-win$bits/romcutter.exe
    size=$(stat -c %s "$exe")
    ((size <= 128 * 1024)) || fail "the win$bits program is $size bytes, over 128 KiB"
    cmake -D "OBJDUMP=$triplet-objdump" -D "FORMAT=$format" -D "EXE=$exe" \
        -P "$root/tests/imports.cmake" || fail "the win$bits program's format or imports"
    # A version resource holds its keys and values in UTF-16.
    python3 - "$exe" "$version" <<'PYTHON' || fail "the win$bits program's version resource"
import sys
data = open(sys.argv[1], "rb").read()
for text in ("VS_VERSION_INFO", "ProductName", "NOVLAR ROM CUTTER", "ProductVersion",
             sys.argv[2], "FileDescription", "OriginalFilename", "romcutter.exe"):
    if text.encode("utf-16-le") not in data:
        sys.exit("no %r in the version resource" % text)
PYTHON
    echo "win$bits: $size bytes, $format"
done <<<"$windows"

echo "== the end-to-end tests against the packaged programs"
(cd "$unpacked/romcutter-$version-linux-x86_64" &&
    "$root/build/default/tests/romcutter_e2e" romcutter) || fail "the Linux program's end-to-end tests"
while read -r bits _ _ tree; do
    build=$root/build/$tree
    wine=$(sed -n 's/^WINE:FILEPATH=//p' "$build/CMakeCache.txt")
    if ! "$wine" --version >/dev/null 2>&1; then
        echo "SKIPPED: the win$bits program's end-to-end tests: $wine cannot start on this machine"
        continue
    fi
    export WINEPREFIX=$build/wine WINEDEBUG=-all
    (cd "$unpacked/romcutter-$version-win$bits" &&
        "$wine" "$build/tests/romcutter_e2e.exe" romcutter.exe </dev/null) ||
        fail "the win$bits program's end-to-end tests"
    wineserver -k || true
done <<<"$windows"

if ((failures)); then
    echo "$failures checks of the packages failed"
    exit 1
fi
echo "the packages passed every check"
