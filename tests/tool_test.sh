#!/bin/sh
# The built tool end to end, as a user runs it. Each case is a command line
# for sh, in a fresh directory that holds in.wav (random bytes of odd
# length), with $Q standing for the tool; it runs in a session of its own
# with no terminal, so that no failure waits for a key.
#
#   tests/tool_test.sh QUARO [RUNNER]      RUNNER: for instance wine, for quaro.exe
set -u
Q="${2:-} $(realpath "$1")"
export Q
top=$(mktemp -d) || exit 1
trap 'rm -rf "$top"' EXIT
checks=0
failed=0
head -c 1000003 /dev/urandom > "$top/in.wav"
# The rule, the plain way: the second word of every four bytes negated.
perl -0777 -pe 's/(..)(..)/$1 . pack("v", -unpack("v", $2))/gse' "$top/in.wav" > "$top/negated.wav"

fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { checks=$((checks + 1)); }

# expect STATUS MESSAGE COMMAND: the exit status, and the message on standard
# error as printf makes it (line ends as "\n" on every platform); nothing on
# standard output.
expect() {
    rm -rf "$top/work" && mkdir "$top/work" && cp "$top/in.wav" "$top/work/" || exit 1
    (cd "$top/work" && setsid -w timeout 60 sh -c "$3" < /dev/null > "$top/out" 2> "$top/err")
    status=$?
    check
    printf "$2" > "$top/want"
    tr -d '\r' < "$top/err" | cmp -s - "$top/want" || fail "$3: said '$(cat "$top/err")'"
    [ "$status" = "$1" ] || fail "$3: status $status"
    [ ! -s "$top/out" ] || fail "$3: wrote to standard output"
}

# holds FILE WANT: FILE in the last command's directory holds what WANT does.
holds() { check; cmp -s "$top/work/$1" "$2" || fail "$1 does not hold what $2 does"; }

expect 0 '' 'cp in.wav ./-n && head -c 2000000 /dev/zero > vok.wav && $Q -n missing --help'
holds vok.wav "$top/negated.wav"
holds ./-n "$top/in.wav"
expect 0 '' 'mkdir music && mv in.wav music/音.wav && $Q music/音.wav && test ! -e music/vok.wav'
holds vok.wav "$top/negated.wav"
expect 1 'quaro.exe <wav file>' '$Q'
expect 1 'input file open error\n' 'mkdir folder && $Q folder && test ! -e vok.wav'
expect 1 'input file open error\n' 'cp in.wav vok.wav && $Q missing.wav'
holds vok.wav "$top/in.wav"
expect 1 'output file create error\n' 'mkdir vok.wav && $Q in.wav'
expect 1 'output file create error\n' 'ln in.wav vok.wav && $Q vok.wav'
holds vok.wav "$top/in.wav"
expect 1 'input file read error\n' '$Q /proc/self/mem'
holds vok.wav /dev/null
expect 1 'output file write error\n' 'ln -s /dev/full vok.wav && $Q in.wav'
if [ -z "${2:-}" ]; then # /dev/stdin, FIFOs and file-size limits of POSIX systems
    expect 0 '' 'cat in.wav | $Q /dev/stdin'
    holds vok.wav "$top/negated.wav"
    expect 1 'output file create error\n' 'cp in.wav vok.wav && $Q /dev/stdin < vok.wav'
    holds vok.wav "$top/in.wav"
    expect 1 'output file write error\n' 'ulimit -f 100 && $Q in.wav' # 512-byte blocks
    head -c 51200 "$top/negated.wav" > "$top/cut.wav"
    holds vok.wav "$top/cut.wav"
    expect 1 'output file write error\n' 'mkfifo vok.wav && { : < vok.wav & } && $Q in.wav'
fi
echo "$((checks - failed)) passed, $failed failed"
[ "$failed" = 0 ]
