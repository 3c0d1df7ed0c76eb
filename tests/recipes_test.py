#!/usr/bin/env python3
# Runs each recipe of the README's "A playable WAV file" and of the man
# page's EXAMPLES (as man renders them) as pasted: by bash -e, with quaro on
# PATH, in a session of its own with no terminal, so that no failure waits
# for a key. Its inputs are made here: every 16-bit value in each channel,
# -32768 included, behind a 44-byte header, and the same behind ffmpeg's
# longer one. fixed.wav must have the input's format and samples with the
# right channel negated, or the left in the variant that a comment "# X: the
# left channel inverted instead" names, run with X for its line. -32768 stays
# in the man page's recipes and comes out 32767 in the README's.
#
#   tests/recipes_test.py SOURCE_DIR        with quaro on PATH
import array, atexit, os, re, shutil, subprocess, sys, tempfile, textwrap, wave

if not all(map(shutil.which, tools := ["bash", "quaro", "sox", "ffmpeg", "ffprobe", "man"])):
    sys.exit(f"FAIL: recipes_test needs {' '.join(tools)} on PATH (apt-get install -y sox ffmpeg man-db)")
readme = open(f"{sys.argv[1]}/README.md").read().split("### A playable WAV file\n")[1].split("\n#")[0]
examples = subprocess.run(["man", "-l", f"{sys.argv[1]}/docs/quaro.1"], capture_output=True, text=True, check=True,
                          env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")).stdout.split("\nEXAMPLES\n")[1]
cases = [(textwrap.dedent(block), clamp, 1) for doc, indent, clamp in ((readme, 4, True), (examples, 14, False))
         for block in re.findall("(?:^%s.+\n)+" % (" " * indent), doc, re.M)]
cases += [(re.sub(r"^.*# (.*): the left channel inverted instead.*$", r"\1", text, flags=re.M), clamp, 0)
          for text, clamp, _ in cases if "the left channel inverted instead" in text]
atexit.register(shutil.rmtree, inputs := tempfile.mkdtemp())
open(f"{inputs}/raw", "wb").write(array.array("h", [value for x in range(-32768, 32768) for value in (x, ~x)]))
subprocess.run(["sox", "-t", "s16", "-r", "8000", "-c", "2", f"{inputs}/raw", f"{inputs}/44.wav"], check=True)
subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", f"{inputs}/44.wav", f"{inputs}/ffmpeg.wav"], check=True)


def samples(path):
    with wave.open(path) as file:
        return file.getparams()[:3], array.array("h", file.readframes(file.getnframes()))


failures = 0
for (text, clamp, channel), name in [(case, name) for case in cases for name in ("44.wav", "ffmpeg.wav")]:
    work = tempfile.mkdtemp(dir=inputs)
    shutil.copy(f"{inputs}/{name}", f"{work}/music.wav")
    run = subprocess.run(["bash", "-ec", text], cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         start_new_session=True, timeout=120)
    format, want = samples(f"{work}/music.wav")
    want[channel::2] = array.array("h", [-x if x > -32768 else 32767 if clamp else x for x in want[channel::2]])
    if run.returncode or not os.path.exists(f"{work}/vok.wav") or samples(f"{work}/fixed.wav") != (format, want):
        failures += 1
        print(f"FAIL: {name}, channel {channel} negated, status {run.returncode}:\n{text}{run.stderr[-3000:]}")
print(f"{len(cases)} recipes, {sum(clamp for _, clamp, _ in cases)} from the README, on 2 files: {failures} failed")
sys.exit(failures > 0 or {clamp for _, clamp, _ in cases} != {True, False} or all(channel for *_, channel in cases))
