#!/usr/bin/env bash
# Builds the release programs and writes the packages that users download to
# build/dist/: a ZIP for 64-bit and for 32-bit Windows, a tarball for x86-64
# Linux, and SHA256SUMS over the three. Needs the compilers, CMake, Ninja,
# Python 3 and git, but neither Wine nor the test libraries. Run it from
# any folder; two runs of the same commit give the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Every time in the packages is the last commit's.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH LC_ALL=C TZ=UTC

# Fresh build trees, so that nothing from an earlier configure carries over.
for preset in dist-linux dist-win64 dist-win32; do
    rm -rf "build/$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/dist-linux/CMakeCache.txt)

# The packaged README is the user part of this repository's README.
user_guide() {
    sed -n '/^<!-- user guide -->$/,/^<!-- end of user guide -->$/p' README.md | sed '1d;$d'
}
crlf() {
    sed 's/$/\r/'
}

dist=build/dist
rm -rf "$dist"
mkdir -p "$dist/stage"
# platform, program built, archive kind, names and line ends of the texts
while read -r platform program kind readme license ends; do
    folder="$dist/stage/romcutter-$version-$platform"
    mkdir "$folder"
    cp "$program" "$folder/"
    if [[ $ends == crlf ]]; then
        user_guide | crlf >"$folder/$readme"
        crlf <LICENSE >"$folder/$license"
    else
        user_guide >"$folder/$readme"
        cp LICENSE "$folder/$license"
    fi
    extension=$([[ $kind == zip ]] && echo zip || echo tar.gz)
    python3 packaging/archive.py "$kind" "$dist/romcutter-$version-$platform.$extension" "$folder"
done <<TABLE
win64 build/dist-win64/romcutter.exe zip README.txt LICENSE.txt crlf
win32 build/dist-win32/romcutter.exe zip README.txt LICENSE.txt crlf
linux-x86_64 build/dist-linux/romcutter tar README LICENSE lf
TABLE
rm -rf "$dist/stage"

(cd "$dist" && sha256sum -- *.zip *.tar.gz >SHA256SUMS)
ls -l "$dist"
