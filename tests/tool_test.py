#!/usr/bin/env python3
# The built tool end to end, as a user runs it. Each case is a command line
# for sh, in a fresh directory that holds in.wav (random bytes of odd length),
# with $Q standing for the tool. It runs in a session of its own: with no
# terminal, so that no failure waits for a key, or with a pseudo-terminal as
# its controlling terminal, to try the key wait the way a user meets it.
#
#   tests/tool_test.py QUARO [RUNNER]      RUNNER: for instance wine, for quaro.exe
import atexit, contextlib, os, pty, random, select, shutil, signal, struct, subprocess, sys
import fcntl, tempfile, termios, time

os.environ["Q"] = " ".join(sys.argv[2:] + [os.path.realpath(sys.argv[1])])
work = tempfile.mkdtemp()
atexit.register(shutil.rmtree, work)
data = random.Random(1).randbytes(1000003)
checks, failures = 0, 0


# The rule, the plain way: the second word of every four bytes negated.
def negated(data):
    count = len(data) // 4 * 2
    words = list(struct.unpack(f"<{count}H", data[: 2 * count]))
    words[1::2] = [-word & 0xFFFF for word in words[1::2]]
    return struct.pack(f"<{count}H", *words) + data[2 * count :]


def check(want, got, what):
    global checks, failures
    checks, failures = checks + 1, failures + (want != got)
    if want != got:
        print(f"FAIL: {what}" + (f": {got!r}, not {want!r}" if isinstance(got, str) else ""))


# Starts `command` (a list) in a new session; a terminal on its standard input
# becomes its controlling terminal.
def start(command, stdin, stdout, stderr):
    shutil.rmtree(work)
    os.mkdir(work)
    open(f"{work}/in.wav", "wb").write(data)
    take_terminal = lambda: os.isatty(0) and fcntl.ioctl(0, termios.TIOCSCTTY, 0)
    return subprocess.Popen(command, cwd=work, stdin=stdin, stdout=stdout, stderr=stderr,
                            start_new_session=True, preexec_fn=take_terminal)


# The exit status (a signal's negative), or "timed out"; then whatever is
# left of the process group is killed.
def finish(tool, seconds):
    with contextlib.suppress(subprocess.TimeoutExpired):
        tool.wait(seconds)
    with contextlib.suppress(ProcessLookupError):
        os.killpg(tool.pid, signal.SIGKILL)
    return "timed out" if tool.returncode is None else tool.returncode


# The status and message of `command` with no terminal (line ends as "\n" on
# every platform), nothing on standard output, and what each file holds after
# (False: there is no such file).
def expect(status, message, command, holds={}):
    out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    # timeout ends the case even if this script is killed first
    tool = start(["timeout", "-s", "KILL", "20", "sh", "-c", command], subprocess.DEVNULL, out, err)
    got = f"{finish(tool, 30)}"
    got += os.pread(err.fileno(), 4096, 0).decode(errors="backslashreplace").replace("\r", "")
    check(f"{status}{message}", got + (" and output" if os.fstat(out.fileno()).st_size else ""),
          command)
    for name, want in holds.items():
        path = f"{work}/{name}"
        check(want, os.path.isfile(path) and open(path, "rb").read(), f"{command}: {name}")


# Runs `command` on a pseudo-terminal, then each step: "wait" till the terminal
# is raw; "goes on" for 300 ms; "stop" the foreground job, till the shell says
# "stopped"; "cooked" sets the first mode again; "hang up"; a number sends that
# signal; bytes are typed. Checks the exit status, whether the terminal is back
# in its first mode, how many bytes of input are left, and the screen.
def on_terminal(want, command, *steps):
    master, slave = pty.openpty()
    before = termios.tcgetattr(slave)
    tool, screen, result = start(["sh", "-c", command], slave, slave, slave), bytearray(), ""

    def read_screen(until, seconds):
        seen = len(screen)
        while until not in screen[seen:] and select.select([master], [], [], seconds)[0]:
            screen.extend(os.read(master, 256))

    for step in steps:
        raw_by = time.monotonic() + (5 if step == "wait" else 0)
        while (time.monotonic() < raw_by and tool.poll() is None
               and termios.tcgetattr(slave)[3] & termios.ICANON):
            time.sleep(0.005)
        if step == "goes on" and not time.sleep(0.3) and tool.poll() is not None:
            result = "did not wait: "
            break
        if step == "stop" and os.tcgetpgrp(master) > 0:  # 0: no job, nothing to stop
            os.killpg(os.tcgetpgrp(master), signal.SIGTSTP)
            read_screen(b"stopped", 5)
        elif step == "cooked":
            termios.tcsetattr(slave, termios.TCSANOW, before)
        elif step == "hang up":
            os.close(master)
        elif isinstance(step, bytes):
            os.write(master, step)
        elif isinstance(step, int):
            tool.send_signal(step)
    result += f"{finish(tool, 5)}"
    if "hang up" not in steps:  # else the terminal is gone
        result += "" if termios.tcgetattr(slave) == before else " (mode not restored)"
        if left := int.from_bytes(fcntl.ioctl(slave, termios.FIONREAD, bytes(4)), sys.byteorder):
            result += f" ({left} left)"
        read_screen(b"\0", 0.05)  # all there is
        os.close(master)
    os.close(slave)
    check(want, result + screen.decode(errors="backslashreplace"), f"{command} {steps}")


expect(0, "", "cp in.wav ./-n && head -c 2000000 /dev/zero > vok.wav && $Q -n missing --help",
       {"vok.wav": negated(data), "-n": data})
expect(0, "", "mkdir music && mv in.wav music/音.wav && $Q music/音.wav && test ! -e music/vok.wav",
       {"vok.wav": negated(data)})
for size in 0, 1, 2, 3, 5, 256 * 1024 - 1, 256 * 1024, 256 * 1024 + 2, 3 * 256 * 1024 + 3:
    expect(0, "", f"head -c {size} in.wav > cut.wav && $Q cut.wav",
           {"vok.wav": negated(data[:size])})
expect(1, "quaro.exe <wav file>", "$Q")
expect(1, "input file open error\n", "mkdir folder && $Q folder", {"vok.wav": False})
expect(1, "input file open error\n", "cp in.wav vok.wav && $Q missing.wav", {"vok.wav": data})
expect(1, "output file create error\n", "mkdir vok.wav && $Q in.wav")
expect(1, "output file create error\n", "ln in.wav vok.wav && $Q vok.wav", {"vok.wav": data})
expect(1, "input file read error\n", "$Q /proc/self/mem", {"vok.wav": b""})
expect(1, "output file write error\n", "ln -s /dev/full vok.wav && $Q /dev/zero")
if len(sys.argv) == 2:  # /dev/stdin, FIFOs, file-size limits and terminals of POSIX systems
    expect(0, "", "cat in.wav | $Q /dev/stdin", {"vok.wav": negated(data)})
    expect(1, "output file create error\n", "cp in.wav vok.wav && $Q /dev/stdin < vok.wav",
           {"vok.wav": data})
    expect(1, "output file write error\n", "ulimit -f 100 && $Q in.wav",  # 512-byte blocks
           {"vok.wav": negated(data)[:51200]})
    expect(1, "output file write error\n", "mkfifo vok.wav && { : < vok.wav & } && $Q in.wav")

    # The key comes from the controlling terminal, not standard input, and is
    # not echoed. There is no wait after a success, in a session without a
    # terminal, or when the terminal's descriptor would be FD_SETSIZE.
    failed = "1input file open error\r\n"
    on_terminal(failed, "printf 'y\\n' | $Q missing.wav", "wait", "goes on", b"q")
    on_terminal(failed, "exec $Q /dev/stdin <&-", "wait", b"q")
    on_terminal("0", "exec $Q in.wav")
    on_terminal(failed, "exec setsid -w $Q missing.wav")
    on_terminal(failed, "exec bash -c 'ulimit -n 2048 && for ((i = 3; i < 1023; i++)); do eval "
                "\"exec $i</dev/null\"; done && exec $Q missing.wav'")
    # Each key is read whole, and no more: a lone Escape (ended by the pause
    # after it), or a key with another typed after it at once, UTF-8
    # characters and sequences, valid or broken, included.
    on_terminal(failed, "exec $Q missing.wav", "wait", b"\x1b")
    for key in (b"a", b"\x03", b"\x1a", *(key.encode() for key in "é€अ😀"), b"\x1bx",
                b"\x1b\xC3\xA9", b"\x1b[A", b"\x1bOP", b"\x1b[15~", b"\x1b[1;5C", b"\x1b[1 q",
                b"\x1b[?1;2c", b"\x1b[[A", b"\x1b\x1b[A", b"\xC3a", b"\xE2\x82a", b"\x1b[1\r"):
        on_terminal("1 (1 left)" + failed[1:], "exec $Q missing.wav", "wait", key + b"x")
    on_terminal("1k" + failed[1:], "sleep 1; exec $Q missing.wav", b"k")  # typed in the sleep
    # Signals restore the mode and end the tool by the same signal, but not
    # one the caller ignores; so does a hang-up.
    for number in (signal.Signals[f"SIG{name}"] for name in
                   "HUP INT QUIT TERM ALRM USR1 USR2 VTALRM PROF XCPU RTMIN RTMAX".split()):
        on_terminal(f"{-number}" + failed[1:], "exec $Q missing.wav", "wait", int(number))
    on_terminal(failed, "trap '' TERM; exec $Q missing.wav", "wait", 15, "goes on", b"k")
    on_terminal("-1", "exec $Q missing.wav", "wait", "hang up")
    # Jobs of a shell with job control: stopped, the tool gives the terminal
    # back; continued in the foreground it waits on, in the background it
    # ends; as a background job it does not wait at all. SIGSTOP cannot be
    # caught: continued, the tool takes the terminal again.
    restored = "stty -a | grep -q -- -icanon && kill -9 %1; echo stopped; "
    stopped = "set -m; $Q missing.wav; " + restored
    on_terminal(failed + "stopped\r\nstopped\r\n", stopped + "fg >/dev/null; " + restored +
                "fg >/dev/null", "wait", "stop", "wait", "stop", "wait", "goes on", b"k")
    on_terminal(failed + "stopped\r\n", stopped + "bg >/dev/null; wait %1", "wait", "stop")
    on_terminal(failed, "set -m; $Q missing.wav & wait $!")
    on_terminal(failed, "exec $Q missing.wav", "wait", int(signal.SIGSTOP), "cooked",
                int(signal.SIGCONT), "wait", "goes on", b"k")
print(f"{checks - failures} passed, {failures} failed")
sys.exit(failures != 0)
