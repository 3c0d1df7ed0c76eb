#!/usr/bin/env bash
# Makes the release files in one folder, FOLDER or else build/release:
#   quaro_VERSION_amd64.deb            the Debian package (preset ci)
#   quaro-VERSION-linux-x86_64.tar.gz  a statically linked quaro, its man page,
#   quaro-VERSION-linux-arm64.tar.gz   license and readme (linux-static, arm64)
#   quaro-VERSION-win64.zip            quaro.exe, its readme and license (windows)
#   SHA256SUMS                         their checksums, for sha256sum -c
# Each file comes from a build whose tests have just passed: the script runs
# the workflow of each preset first. Release files of an earlier run in the
# folder are replaced.
#
#   cmake/release.sh [FOLDER]
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/../build/release}")
cd "$(dirname "$0")/.."

for preset in ci linux-static arm64 windows; do
    echo "=== release: preset $preset"
    cmake --workflow --preset "$preset"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/ci/CMakeCache.txt)
[ -n "$version" ] || { echo "release: no project version in build/ci" >&2; exit 1; }
# The archives' time stamps: the last commit's, so that the same build makes
# the same archive.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || date +%s)}

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$out"
rm -f "$out"/quaro_*.deb "$out"/quaro-*.tar.gz "$out"/quaro-*.zip "$out/SHA256SUMS"

(cd build/ci && cpack -G DEB -B "$staging/deb")
mv "$staging"/deb/quaro_*.deb "$out/"
(cd build/windows && cpack -G ZIP -B "$staging/zip")
mv "$staging"/zip/quaro-*.zip "$out/"

for target in linux-static:x86_64 arm64:arm64; do
    name=quaro-$version-linux-${target#*:}
    cmake --install "build/${target%%:*}" --component archive --strip --prefix "$staging/$name"
    tar -C "$staging" --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
        -cf - "$name" | gzip -9n > "$out/$name.tar.gz"
done

cd "$out"
sha256sum quaro_*.deb quaro-*.tar.gz quaro-*.zip > SHA256SUMS
echo "=== release files in $out"
cat SHA256SUMS
