#!/usr/bin/env bash
# Checks that the release files in FOLDER, made by cmake/release.sh from this
# checkout's commit, come out the same byte for byte from a second build made
# here and now, from a fresh clone of the commit, in another folder, with its
# temporary files, on another file system where /dev/shm is one that runs
# programs, minutes later, and with all that release.sh must leave out of the
# build at once:
#   - another umask, the time zone UTC+14 and a German locale;
#   - compilers, flags and make's variables in the environment (CC=clang,
#     CXXFLAGS=-O0, MAKEFLAGS='CXX_DEFINES=...' and more), and a folder first
#     on PATH whose compilers, python3 and gzip fail;
#   - in the clone: a build folder (build/ci) left by an earlier build of
#     quaro with other flags, an untracked tool/cerrno that would put a
#     marker into quaro through the tool's include path, and settings that
#     hide it (status.showUntrackedFiles=no) or would change the source
#     tarball (tar.umask, core.autocrlf).
# The two SHA256SUMS must be the same; where they differ, diffoscope shows
# what differs in each file, and the check fails.
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
    clone=$work/quaro
    echo "=== rebuild check: a second build of $(git rev-parse --short HEAD) from $clone, umask $(umask), TZ=<+14>-14, LC_ALL=de_DE.UTF-8"
    mkdir "$work/tmp" "$work/bin"
    git init -q "$clone"
    git -C "$clone" fetch -q "$PWD" HEAD
    git -C "$clone" checkout -q FETCH_HEAD

    # What an earlier build or a developer leaves in a checkout. build/ci, its
    # quaro built with CXX_DEFINES of MAKEFLAGS (no _FORTIFY_SOURCE), which
    # make takes over flags.make and flags.make does not record: a later build
    # in the folder would keep these objects.
    export MAKEFLAGS='CXX_DEFINES=-D_FILE_OFFSET_BITS=64'
    (cd "$clone" && cmake --preset ci && cmake --build --preset ci --target quaro) > "$work/stale.log" ||
        { cat "$work/stale.log"; exit 1; }
    # An untracked tool/cerrno, which the tool's include path puts before
    # <cerrno>, with a marker that would land in quaro (a system header, so
    # that -Wpedantic -Werror let it pass), hidden from git status by
    # status.showUntrackedFiles=no. And settings that git archive follows,
    # which would change the source tarball.
    printf '%s\n' '#pragma once' '#pragma GCC system_header' '#include_next <cerrno>' \
        '[[gnu::used]] static const char quaro_marker[] = "tool/cerrno of rebuild-check.sh";' > "$clone/tool/cerrno"
    git -C "$clone" config status.showUntrackedFiles no
    git -C "$clone" config tar.umask 0
    git -C "$clone" config core.autocrlf true
    # First on PATH: compilers, python3 and gzip that fail.
    for name in c++ g++ gcc clang++ python3 gzip; do
        printf '#!/bin/sh\necho "rebuild check: $0 of PATH run" >&2\nexit 1\n' > "$work/bin/$name"
        chmod +x "$work/bin/$name"
    done

    env PATH="$work/bin:$PATH" TZ='<+14>-14' LOCPATH="$work/locale" LC_ALL=de_DE.UTF-8 TMPDIR="$work/tmp" \
        CC=clang CXX=clang++ CFLAGS=-O0 CXXFLAGS=-O0 CPPFLAGS=-UNDEBUG LDFLAGS=-Wl,-z,now \
        CMAKE_BUILD_PARALLEL_LEVEL=1 CMAKE_CXX_COMPILER_LAUNCHER=false GZIP=-1 TAR_OPTIONS=--mode=777 \
        "$clone/cmake/release.sh" "$work/release"
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
