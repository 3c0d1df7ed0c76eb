#!/usr/bin/env bash
# Makes the release files of the commit checked out (HEAD) in one folder,
# FOLDER or else build/release:
#   quaro-VERSION.tar.gz               the commit's files in a folder quaro-VERSION
#   quaro_VERSION_amd64.deb            the Debian package (preset ci)
#   quaro-VERSION-linux-x86_64.tar.gz  a statically linked quaro, its man page,
#   quaro-VERSION-linux-arm64.tar.gz   license and readme (linux-static, arm64)
#   quaro-VERSION-win64.zip            quaro.exe, its readme and license (windows)
#   SHA256SUMS                         their checksums, for sha256sum -c
# Release files of an earlier run in the folder are replaced.
#
# The files are of the commit alone, not of the checkout. The script fetches
# HEAD into a new repository in a scratch folder, packs the source tarball
# there with git archive, unpacks it, and runs the copy of this script that the
# commit holds from the unpacked folder, under an environment of its own:
#   PATH=/usr/sbin:/usr/bin:/sbin:/bin, LC_ALL=C, TZ=UTC, umask 022,
#   HOME, TMPDIR and WINEPREFIX in the scratch folder, and SOURCE_DATE_EPOCH,
#   the caller's if set, or else the commit's time.
# Nothing else reaches the build: no variable of the caller's (MAKEFLAGS, CC,
# CXXFLAGS, CMAKE_*, compiler launchers on PATH), no git setting or attribute
# of the checkout, no file that the commit does not hold and no earlier build.
# Changes that no commit holds, this script's own among them, are left out,
# and listed. cmake/rebuild-check.sh checks all that.
#
# That copy builds the workflow of each preset in an empty build folder, so
# that each program packed is the very file that its preset's tests, end to
# end included, have just run; it compares each packed program with the tested
# one at the end, and lintian must pass the package without a warning. The
# same commit gives the same bytes with the same tools: every time stamp is
# SOURCE_DATE_EPOCH (the source tarball's, as git archive gives them, the
# commit's), every mode is set here or by an install rule, every owner is
# root, and entries are in name order. (The zip comes from cmake/zip.py, not
# CPack, whose zip stores the builder's user and takes its order from the file
# system.)
#
#   cmake/release.sh [FOLDER]
set -euo pipefail
path=/usr/sbin:/usr/bin:/sbin:/bin

# First, in the caller's checkout and environment: the copy, and the
# environment for the rest.
if [ "${1:-}" != --in-copy ]; then
    out=$(realpath -m "${1:-$(dirname "$0")/../build/release}")
    cd "$(dirname "$0")/.."
    root=$PWD
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir "$scratch/home" "$scratch/tmp"
    # A command in an empty environment; git with none of the system's or the
    # user's settings, and none of the checkout's where it runs in the
    # scratch repository.
    clean() { env -i PATH="$path" HOME="$scratch/home" LC_ALL=C TZ=UTC "$@"; }
    clean_git() { clean GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null git "$@"; }

    # Only what the commit holds: its objects, fetched into an empty repository,
    # where no setting, attribute (info/attributes), replacement or graft of the
    # checkout's applies.
    clean_git init -q --bare "$scratch/git"
    # (safe.directory: the checkout may be another user's, root's say.)
    clean_git -C "$scratch/git" -c safe.directory="$root" -c safe.directory="$root/.git" \
        fetch -q --no-tags "$root" HEAD
    commit=$(clean_git -C "$scratch/git" rev-parse FETCH_HEAD)
    changes=$(clean_git --no-optional-locks -C "$root" -c safe.directory="$root" \
        -c core.excludesFile=/dev/null status --porcelain --untracked-files=normal)
    if [ -n "$changes" ]; then
        echo "release: building $commit without the changes that no commit holds:"
        echo "$changes"
    fi
    version=$(clean_git -C "$scratch/git" show "$commit:CMakeLists.txt" |
        sed -n 's/^ *VERSION \([0-9][0-9.]*\)$/\1/p')
    [[ $version =~ ^[0-9.]+$ ]] || { echo "release: no project version in CMakeLists.txt" >&2; exit 1; }
    : "${SOURCE_DATE_EPOCH:=$(clean_git -C "$scratch/git" log -1 --format=%ct "$commit")}"
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || { echo "release: SOURCE_DATE_EPOCH is not a time: $SOURCE_DATE_EPOCH" >&2; exit 1; }

    # The source tarball. git archive gives each entry the commit's time, owner
    # root and the mode of the commit less tar.umask; the settings that could
    # change its bytes are given here, whatever the repository says.
    name=quaro-$version
    clean_git -C "$scratch/git" -c tar.umask=022 -c core.autocrlf=false -c core.eol=lf \
        -c core.attributesFile=/dev/null archive --format=tar --prefix="$name/" "$commit" |
        clean gzip -9n > "$scratch/$name.tar.gz"
    clean tar -C "$scratch" -xzf "$scratch/$name.tar.gz"

    echo "=== release: $name of $commit, in $scratch/$name, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
    mkdir -p "$out"
    env -i PATH="$path" LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" \
        HOME="$scratch/home" TMPDIR="$scratch/tmp" WINEPREFIX="$scratch/wine" \
        bash -c 'umask 022 && exec "$0" "$@"' "$scratch/$name/cmake/release.sh" --in-copy "$out"
    exit 0
fi

# From here on, in the unpacked source tarball, which lies beside it, and in
# the environment set above.
out=$2
cd "$(dirname "$0")/.."
src=$PWD
staging=$(mktemp -d)
# The Windows tests run under wine, in a prefix of this build's own, with one
# server kept for all of them, so that each run starts in milliseconds.
mkdir "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2> /dev/null || true; rm -rf "$staging"' EXIT

for preset in ci linux-static arm64 windows; do
    echo "=== release: preset $preset"
    cmake --workflow --preset "$preset"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/ci/CMakeCache.txt)
[ "quaro-$version" = "$(basename "$PWD")" ] ||
    { echo "release: project version $version in build/ci, not that of $PWD" >&2; exit 1; }
rm -f "$out"/quaro_*.deb "$out"/quaro-*.tar.gz "$out"/quaro-*.zip "$out/SHA256SUMS"

echo "=== release: packing"
cp "$src.tar.gz" "$out/"
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
(cd "$staging" && python3 "$src/cmake/zip.py" "$out/$zip.zip" "$zip")

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
    (cd "$(unpacked "$file")" && find . -type f | sort) > "$staging/held.txt"
    printf './%s\n' "$@" | sort | diff - "$staging/held.txt"
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
sha256sum "quaro-$version.tar.gz" "$deb" quaro-"$version"-linux-x86_64.tar.gz \
    quaro-"$version"-linux-arm64.tar.gz "$zip.zip" > SHA256SUMS
echo "=== release files in $out"
cat SHA256SUMS
