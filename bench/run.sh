#!/usr/bin/env bash
# Times quaro against a plain copy by cat on a large 16-bit stereo WAV, in
# alternation, with every file on tmpfs; then sox and ffmpeg doing the same
# polarity inversion where they are installed. Prints the median times, the
# median ratio to cat and each program's peak resident memory.
#
#   bench/run.sh [QUARO]        SIZE_MIB=1024 RUNS=7 by default
set -euo pipefail

quaro=$(realpath "${1:-build/default/tool/quaro}")
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-7}
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

# Runs a command, leaving "seconds peak-KiB" in the named file.
measure() {
    local out=$1; shift
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$out.mem" "$@"
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000000 ))e-3 $(tail -n 1 "$out.mem")" >> "$out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

report() {  # name results-file
    printf '%-8s median %6.3f s   best %6.3f s   peak %6d KiB\n' "$1" \
        "$(cut -d' ' -f1 "$2" | median)" "$(cut -d' ' -f1 "$2" | sort -g | head -n 1)" \
        "$(cut -d' ' -f2 "$2" | sort -n | tail -n 1)"
}

echo "making a ${size_mib} MiB WAV on tmpfs ..."
make_wav "$size_mib" in.wav
make_wav 1 small.wav

# One pair to warm up, not counted; each run then writes a new file.
cat in.wav > copy.wav && "$quaro" in.wav
for _ in $(seq "$runs"); do
    rm -f copy.wav vok.wav
    measure cat.txt cat in.wav > copy.wav
    rm -f copy.wav vok.wav
    measure quaro.txt "$quaro" in.wav
done
rm -f copy.wav vok.wav
paste -d' ' quaro.txt cat.txt | awk '{ print $1 / $3 }' > ratio.txt

measure small.txt "$quaro" small.wav
report cat cat.txt
report quaro quaro.txt
printf 'quaro/cat median ratio %.3f over %d runs\n' "$(median < ratio.txt)" "$runs"
printf 'quaro on a 1 MiB file: peak %d KiB\n' "$(cut -d' ' -f2 small.txt)"

if command -v sox > /dev/null; then
    for _ in 1 2 3; do measure sox.txt sox -V1 in.wav sox-out.wav remix 1 2i; done
    report sox sox.txt
fi
if command -v ffmpeg > /dev/null; then
    for _ in 1 2 3; do
        measure ffmpeg.txt ffmpeg -v error -y -i in.wav -af 'pan=stereo|c0=c0|c1=-1*c1' \
            -c:a pcm_s16le ffmpeg-out.wav
    done
    report ffmpeg ffmpeg.txt
fi
