# What the tests written in Python share: check, which counts each check and
# prints each that fails with what it saw (a long bytes value by its length
# and the first byte that differs), and the closing line that says how many
# passed, with the exit status to match.
import sys

checks, failures = 0, 0


def check(what, want, got):
    global checks, failures
    checks += 1
    if want == got:
        return
    failures += 1
    if isinstance(want, bytes) and isinstance(got, bytes):
        at = next(at for at, (a, b) in enumerate(zip(want + b"?", got + b"!")) if a != b)
        got, want = f"{len(got)} bytes, differing from byte {at} on", f"{len(want)} bytes"
    got, want = (f"{len(v)} bytes" if isinstance(v, bytes) and len(v) > 40 else v for v in (got, want))
    print(f"FAIL: {what}: {got!s}, not {want!s}")


def summary():
    print(f"{checks - failures} passed, {failures} failed")
    sys.exit(failures != 0)
