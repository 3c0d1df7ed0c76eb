#!/usr/bin/env bash
# Times quaro against two plain copies of a large 16-bit stereo WAV, with
# every file on tmpfs and the input in the page cache: dd bs=256K, which reads
# and writes as quaro does, and cat, which copies inside the kernel. The three
# run in turn, round after round; each round gives one quaro/dd and one
# quaro/cat ratio, and the medians of those ratios are printed with the lowest
# and highest. Then sox and ffmpeg doing the same polarity inversion, where
# they are installed, and each program's peak resident memory. quaro runs
# with no controlling terminal (setsid), so that a failure ends the script
# instead of waiting for a key.
#
#   bench/run.sh [QUARO]        SIZE_MIB=1024 RUNS=15 by default
set -euo pipefail

quaro=$(realpath "${1:-build/default/tool/quaro}")
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-15}
[ -x /usr/bin/time ] || { echo "needs GNU time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d /dev/shm/quaro-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

le32() {
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' \
        $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# A canonical 44-byte header (PCM, 2 channels, 44100 Hz, 16 bits), then noise.
make_wav() {
    local bytes=$(($1 * 1024 * 1024))
    { printf 'RIFF'; le32 $((bytes + 36)); printf 'WAVEfmt '; le32 16
      printf '\x01\x00\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00'
      printf 'data'; le32 "$bytes"; head -c "$bytes" /dev/urandom; } > "$2"
}

# Runs a command into a new output file, appending "seconds peak-KiB" to the
# named results file.
measure() {
    local results=$1; shift
    local start end
    rm -f copy.wav vok.wav
    start=$(date +%s%N)
    /usr/bin/time -f %M -o mem.txt "$@"
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 ))e-6 $(tail -n 1 mem.txt)" >> "$results"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {  # name results-file
    printf '%-7s median %6.3f s   peak %6d KiB\n' "$1" \
        "$(cut -d' ' -f1 "$2" | median)" "$(cut -d' ' -f2 "$2" | sort -n | tail -n 1)"
}

ratio() {  # name numerator-file denominator-file
    paste -d' ' "$2" "$3" | awk '{ print $1 / $3 }' | sort -g > ratio.txt
    printf '%-10s median %.3f   lowest %.3f   highest %.3f   (%d rounds)\n' "$1" \
        "$(median < ratio.txt)" "$(head -n 1 ratio.txt)" "$(tail -n 1 ratio.txt)" "$runs"
}

echo "making a ${size_mib} MiB WAV on tmpfs ..."
make_wav "$size_mib" in.wav
make_wav 1 small.wav

# One round to warm up, not counted.
cat in.wav > copy.wav && dd if=in.wav of=copy.wav bs=256K status=none && setsid -w "$quaro" in.wav
for _ in $(seq "$runs"); do
    measure cat.txt sh -c 'cat in.wav > copy.wav'
    measure dd.txt dd if=in.wav of=copy.wav bs=256K status=none
    measure quaro.txt setsid -w "$quaro" in.wav
done
measure small.txt setsid -w "$quaro" small.wav

report cat cat.txt
report dd dd.txt
report quaro quaro.txt
ratio quaro/dd quaro.txt dd.txt
ratio quaro/cat quaro.txt cat.txt
printf 'quaro on a 1 MiB file: peak %d KiB\n' "$(cut -d' ' -f2 small.txt)"

if command -v sox > /dev/null; then
    for _ in 1 2 3; do measure sox.txt sox -V1 in.wav copy.wav remix 1 2i; done
    report sox sox.txt
fi
if command -v ffmpeg > /dev/null; then
    for _ in 1 2 3; do
        measure ffmpeg.txt ffmpeg -v error -y -i in.wav -af 'pan=stereo|c0=c0|c1=-1*c1' \
            -c:a pcm_s16le copy.wav
    done
    report ffmpeg ffmpeg.txt
fi
