#!/usr/bin/env bash
# Checks that the release files in FOLDER, made by cmake/release.sh from this
# checkout's commit, come out the same byte for byte from a second build made
# here and now: of a fresh clone of the commit (what it holds, not the files
# of the checkout), in another folder, with its temporary files, on another
# file system where /dev/shm is one that runs programs, minutes later, with
# another umask, the time zone UTC+14, a German locale, and compilers and
# flags in the environment that release.sh must leave out. The two SHA256SUMS
# must be the same; where they differ, diffoscope shows what differs in each
# file, and the check fails.
#
# Both builds take SOURCE_DATE_EPOCH from the environment, or else the
# commit. With one ahead of the clock, as .ci/run gives them, a time of the
# build itself would show in a file: nothing clamps an earlier time.
#
#   cmake/rebuild-check.sh FOLDER
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: cmake/rebuild-check.sh FOLDER" >&2; exit 2; }
first=$(realpath "$1")
cd "$(dirname "$0")/.."
[ -f "$first/SHA256SUMS" ] || { echo "rebuild check: no $first/SHA256SUMS" >&2; exit 1; }

if [ -d /dev/shm ] && [ -w /dev/shm ] && ! findmnt -no OPTIONS --target /dev/shm | grep -qw noexec
then
    work=$(mktemp -d /dev/shm/quaro-rebuild.XXXXXX)
else
    work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT

# A locale unlike C in its order of names, its numbers and its messages,
# made here so that no locale need be installed (package locales has its
# sources).
mkdir "$work/locale"
localedef -i de_DE -f UTF-8 "$work/locale/de_DE.UTF-8"
if [ "$(umask)" = 0077 ]; then other_umask=022; else other_umask=077; fi

(
    umask "$other_umask"
    echo "=== rebuild check: a second build of $(git rev-parse --short HEAD) in $work/quaro, umask $(umask), TZ=<+14>-14, LC_ALL=de_DE.UTF-8"
    mkdir "$work/tmp"
    git init -q "$work/quaro"
    git -C "$work/quaro" fetch -q "$PWD" HEAD
    git -C "$work/quaro" checkout -q FETCH_HEAD
    env TZ='<+14>-14' LOCPATH="$work/locale" LC_ALL=de_DE.UTF-8 TMPDIR="$work/tmp" \
        CC=clang CXX=clang++ CFLAGS=-O0 CXXFLAGS=-O0 CPPFLAGS=-UNDEBUG LDFLAGS=-Wl,-z,now \
        "$work/quaro/cmake/release.sh" "$work/release"
)

if cmp -s "$first/SHA256SUMS" "$work/release/SHA256SUMS"; then
    echo "rebuild check: the same SHA256SUMS from both builds (the check took $SECONDS s):"
    cat "$first/SHA256SUMS"
    exit 0
fi
echo "rebuild check: the second build differs:"
diff "$first/SHA256SUMS" "$work/release/SHA256SUMS" || true
while read -r _ file; do
    if ! cmp -s "$first/$file" "$work/release/$file"; then
        echo "=== $file: first build ($first), second build ($work/release)"
        diffoscope --text - --text-color never \
            "$first/$file" "$work/release/$file" || true
    fi
done < "$first/SHA256SUMS"
exit 1
