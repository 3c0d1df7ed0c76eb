#!/usr/bin/env bash
# Makes the release files in one folder, FOLDER or else build/release:
#   quaro_VERSION_amd64.deb            the Debian package (preset ci)
#   quaro-VERSION-linux-x86_64.tar.gz  a statically linked quaro, its man page,
#   quaro-VERSION-linux-arm64.tar.gz   license and readme (linux-static, arm64)
#   quaro-VERSION-win64.zip            quaro.exe, its readme and license (windows)
#   SHA256SUMS                         their checksums, for sha256sum -c
# Release files of an earlier run in the folder are replaced.
#
# Each program packed is the very file that its preset's tests, end to end
# included, have just run: the script runs the workflow of each preset first,
# and compares each packed program with the tested one at the end; lintian
# must pass the package without a warning.
#
# The files are of a commit: the script refuses a checkout with changes that
# no commit holds, tracked or untracked (less what git ignores). The same
# commit gives the same bytes with the same tools, wherever it is built, by
# whom, when, and with whatever umask, time zone, locale and build flags:
# every time stamp is the last commit's (or SOURCE_DATE_EPOCH, if set), even
# where the clock is behind it; every mode is set here or by an install rule,
# every owner is root, and entries are in name order. The environment's
# compilers and their flags (CC, CXX, CFLAGS, CXXFLAGS, CPPFLAGS, LDFLAGS,
# RC, RCFLAGS, CPATH, CPLUS_INCLUDE_PATH, LIBRARY_PATH, LD_RUN_PATH,
# COMPILER_PATH, GCC_EXEC_PREFIX), the generator and toolchain CMake
# would take from it, DESTDIR and the options of tar and gzip are left out,
# and each preset is configured afresh, so that none is kept from an earlier
# configure either. cmake/rebuild-check.sh checks that. (The zip comes from
# cmake/zip.py, not CPack, whose zip stores the builder's user and takes its
# order from the file system.)
#
#   cmake/release.sh [FOLDER]
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/../build/release}")
cd "$(dirname "$0")/.."
root=$PWD

changes=$(git status --porcelain) || { echo "release: git status failed: release files are made of a commit" >&2; exit 1; }
if [ -n "$changes" ]; then
    echo "release: refused: the checkout has changes that no commit holds (commit them, or git stash -u):" >&2
    echo "$changes" >&2
    exit 1
fi
for name in CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RC RCFLAGS CPATH CPLUS_INCLUDE_PATH \
            LIBRARY_PATH LD_RUN_PATH COMPILER_PATH GCC_EXEC_PREFIX \
            CMAKE_GENERATOR CMAKE_TOOLCHAIN_FILE DESTDIR TAR_OPTIONS GZIP; do
    [ -z "${!name+set}" ] || { echo "release: $name of the environment left out"; unset "$name"; }
done

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
        { echo "release: no commit to take the time from: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH  # read by CPack, dpkg-deb and cmake/zip.py

for preset in ci linux-static arm64 windows; do
    echo "=== release: preset $preset"
    cmake --workflow --preset "$preset" --fresh
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/ci/CMakeCache.txt)
[ -n "$version" ] || { echo "release: no project version in build/ci" >&2; exit 1; }

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$out"
rm -f "$out"/quaro_*.deb "$out"/quaro-*.tar.gz "$out"/quaro-*.zip "$out/SHA256SUMS"
# Files unpacked here keep the modes they are packed with only where the
# umask leaves them.
umask 022

echo "=== release: packing"
# CPack makes the package, with its dependencies; dpkg-deb builds it again
# from CPack's, with an Installed-Size of its own. CPack's adds up the sizes
# of the package's folders as well as its files, and a folder's size is the
# file system's choice (4 KiB on ext4, less on tmpfs). This one is the
# files' sizes added up, in KiB.
(cd build/ci && cpack -G DEB -B "$staging/deb")
deb=$(cd "$staging/deb" && ls quaro_*.deb)
dpkg-deb -R "$staging/deb/$deb" "$staging/deb/tree"
size=$(find "$staging/deb/tree" -path "$staging/deb/tree/DEBIAN" -prune -o -type f -printf '%s\n' |
    awk '{ bytes += $1 } END { print int((bytes + 1023) / 1024) }')
sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$staging/deb/tree/DEBIAN/control"
# dpkg-deb brings only later times down to SOURCE_DATE_EPOCH; where the clock
# is behind it, the folders dpkg-deb -R made and the control file sed wrote
# have earlier ones.
find "$staging/deb/tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zgzip --build "$staging/deb/tree" "$out/$deb"

for target in linux-static:x86_64 arm64:arm64; do
    name=quaro-$version-linux-${target#*:}
    cmake --install "build/${target%%:*}" --component archive --prefix "$staging/$name"
    tar -C "$staging" --format=gnu --sort=name --mtime="@$SOURCE_DATE_EPOCH" \
        --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX -cf - "$name" |
        gzip -9n > "$out/$name.tar.gz"
done

zip=quaro-$version-win64
cmake --install build/windows --prefix "$staging/$zip"
(cd "$staging" && python3 "$root/cmake/zip.py" "$out/$zip.zip" "$zip")

# Unpacks a release file into the staging folder and compares the program in
# it with the one its preset's tests ran; then checks the files it holds.
unpacked() { echo "$staging/unpacked/$1"; }
check_packed() {
    local file=$1 program=$2 tested=$3
    shift 3
    mkdir -p "$(unpacked "$file")"
    case $file in
        *.deb) dpkg-deb -x "$out/$file" "$(unpacked "$file")" ;;
        *) (cd "$(unpacked "$file")" && cmake -E tar xf "$out/$file") ;;
    esac
    cmp "$tested" "$(unpacked "$file")/$program"
    (cd "$(unpacked "$file")" && find . -type f | LC_ALL=C sort) > "$staging/held.txt"
    printf './%s\n' "$@" | LC_ALL=C sort | diff - "$staging/held.txt"
    echo "$file: $program is the tested $tested; it holds $*"
}
echo "=== release: checking the files"
lintian --fail-on error,warning "$out/$deb"
check_packed "$deb" usr/bin/quaro build/ci/tool/quaro \
    usr/bin/quaro usr/share/doc/quaro/changelog.gz usr/share/doc/quaro/copyright \
    usr/share/man/man1/quaro.1.gz
for target in linux-static:x86_64:x86-64 arm64:arm64:aarch64; do
    IFS=: read -r preset arch machine <<< "$target"
    name=quaro-$version-linux-$arch
    check_packed "$name.tar.gz" "$name/quaro" "build/$preset/tool/quaro" \
        "$name/quaro" "$name/quaro.1" "$name/LICENSE" "$name/README"
    # The archives' one program must run on any Linux of its processor.
    file "$(unpacked "$name.tar.gz")/$name/quaro" | tee "$staging/file.txt"
    grep -q "$machine.*, statically linked" "$staging/file.txt"
done
check_packed "$zip.zip" "$zip/quaro.exe" build/windows/tool/quaro.exe \
    "$zip/quaro.exe" "$zip/README.txt" "$zip/LICENSE.txt"

cd "$out"
sha256sum "$deb" quaro-"$version"-linux-x86_64.tar.gz quaro-"$version"-linux-arm64.tar.gz \
    "$zip.zip" > SHA256SUMS
echo "=== release files in $out"
cat SHA256SUMS
