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
import array, os, re, shutil, subprocess, sys, tempfile, textwrap, wave
from harness import check, summary

missing = [tool for tool in ("bash", "quaro", "sox", "ffmpeg", "ffprobe", "man") if not shutil.which(tool)]
if missing:
    sys.exit(f"FAIL: recipes_test needs {' '.join(missing)} on PATH (apt-get install -y sox ffmpeg man-db)")
readme = open(f"{sys.argv[1]}/README.md").read().split("### A playable WAV file\n")[1].split("\n#")[0]
manual = subprocess.run(["man", "-l", f"{sys.argv[1]}/docs/quaro.1"], capture_output=True, text=True,
                        check=True, env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")).stdout
examples = manual.split("\nEXAMPLES\n")[1]
left = "the left channel inverted instead"


# The indented blocks of `doc`, each as (its lines, whether -32768 comes out
# 32767, the channel negated), and the left variant of a block that has one.
def recipes(doc, indent, clamp):
    found = [(textwrap.dedent(text), clamp, 1) for text in re.findall(f"(?:^{' ' * indent}.+\n)+", doc, re.M)]
    return found + [(re.sub(rf"^.*# (.*): {left}.*$", r"\1", text, flags=re.M), clamp, 0)
                    for text, _, _ in found if left in text]


def samples(path):
    with wave.open(path) as file:
        return file.getparams()[:3], array.array("h", file.readframes(file.getnframes()))


inputs = tempfile.mkdtemp()
open(f"{inputs}/raw", "wb").write(array.array("h", [value for x in range(-32768, 32768) for value in (x, ~x)]))
subprocess.run(["sox", "-t", "s16", "-r", "8000", "-c", "2", f"{inputs}/raw", f"{inputs}/44.wav"], check=True)
subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", f"{inputs}/44.wav", f"{inputs}/ffmpeg.wav"], check=True)
cases = recipes(readme, 4, True) + recipes(examples, 14, False)
check("recipes found: in the README, in the man page, of them for the left channel", (3, 1, 1),
      (sum(clamp for _, clamp, _ in cases), sum(not clamp for _, clamp, _ in cases), sum(not c for *_, c in cases)))
for (text, clamp, channel), name in [(case, name) for case in cases for name in ("44.wav", "ffmpeg.wav")]:
    work = tempfile.mkdtemp(dir=inputs)
    shutil.copy(f"{inputs}/{name}", f"{work}/music.wav")
    run = subprocess.run(["bash", "-ec", text], cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         start_new_session=True, timeout=120)
    what = f"{name}, channel {channel} negated, by\n{text}"
    check(f"{what}status, with {run.stderr[-2000:]!r} on standard error", 0, run.returncode)
    format, want = samples(f"{work}/music.wav")
    want[channel::2] = array.array("h", [-x if x > -32768 else 32767 if clamp else x for x in want[channel::2]])
    format_got, got = samples(f"{work}/fixed.wav") if os.path.exists(f"{work}/fixed.wav") else ("no file", [])
    check(f"{what}fixed.wav's format", format, format_got)
    check(f"{what}fixed.wav's samples", want.tobytes(), array.array("h", got).tobytes())
shutil.rmtree(inputs)
summary()
