#!/usr/bin/env python3
# The built tool end to end, as a user runs it. Each case is a command line
# for sh, in a fresh directory that holds in.wav, with $Q standing for the
# tool. It runs in a session of its own: with no terminal, so that no failure
# waits for a key, or with a pseudo-terminal as its controlling terminal, to
# try the key wait the way a user meets it.
#
#   tests/tool_test.py QUARO [RUNNER]      RUNNER: for instance wine, for quaro.exe
import atexit, contextlib, fcntl, os, pty, random, select, shutil, signal, struct, subprocess
import sys, tempfile, termios, time
from harness import check, summary

os.environ["Q"] = " ".join(sys.argv[2:] + [os.path.realpath(sys.argv[1])])
work = tempfile.mkdtemp()
atexit.register(shutil.rmtree, work)
# Every word value at an even and at an odd position, then random bytes:
# over three blocks, of odd length.
data = b"".join(struct.pack("<HH", value, value) for value in range(65536))
data += random.Random(1).randbytes(737859)


# The rule, the plain way: the second word of every four bytes negated.
def negated(data):
    count = len(data) // 4 * 2
    words = list(struct.unpack(f"<{count}H", data[: 2 * count]))
    words[1::2] = [-word & 0xFFFF for word in words[1::2]]
    return struct.pack(f"<{count}H", *words) + data[2 * count :]


def contents(path):
    if not os.path.isfile(path):
        return "no file"
    with open(path, "rb") as file:
        return file.read()


# Starts `command` (a list) in a new session, with a terminal on its standard
# input as its controlling terminal.
def start(command, stdin, stdout, stderr):
    shutil.rmtree(work)
    os.mkdir(work)
    with open(f"{work}/in.wav", "wb") as file:
        file.write(data)

    def take_terminal():
        if os.isatty(0):
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

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


# Runs `command` with no terminal: its status, its message (line ends as "\n"
# on every platform), nothing on standard output, and what each file holds.
def expect(command, status, message="", files={}):
    out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    # timeout ends the case even if this script is killed first
    tool = start(["timeout", "-s", "KILL", "20", "sh", "-c", command], subprocess.DEVNULL, out, err)
    check(f"{command}: status", status, finish(tool, 30))
    message_seen = os.pread(err.fileno(), 4096, 0).replace(b"\r", b"")
    check(f"{command}: message", message, message_seen.decode(errors="backslashreplace"))
    check(f"{command}: bytes on standard output", 0, os.fstat(out.fileno()).st_size)
    for name, want in files.items():
        check(f"{command}: {name}", want, contents(f"{work}/{name}"))


# `command` on a pseudo-terminal, for the steps of a case to act on.
class Terminal:
    def __init__(self, command, input_flags=0):
        self.command = command
        self.master, self.slave = pty.openpty()
        mode = self.mode()
        mode[0] |= input_flags
        termios.tcsetattr(self.slave, termios.TCSANOW, mode)
        self.first_mode = self.mode()
        self.mode_at_end = self.first_mode
        self.screen = bytearray()
        self.tool = start(["sh", "-c", command], self.slave, self.slave, self.slave)

    def mode(self):
        return termios.tcgetattr(self.slave)

    def read_screen(self, until, seconds):
        seen = len(self.screen)
        while until not in self.screen[seen:] and select.select([self.master], [], [], seconds)[0]:
            self.screen.extend(os.read(self.master, 256))

    def bytes_left(self):
        return int.from_bytes(fcntl.ioctl(self.slave, termios.FIONREAD, bytes(4)), sys.byteorder)


# The steps. Each acts on the terminal or checks what it shows.

# Line editing off (within 10 s), the output side as it was.
def raw(terminal):
    deadline = time.monotonic() + 10
    while terminal.mode()[3] & termios.ICANON and time.monotonic() < deadline:
        time.sleep(0.005)
    check(f"{terminal.command}: line editing", 0, terminal.mode()[3] & termios.ICANON)
    check(f"{terminal.command}: output flags", terminal.first_mode[1], terminal.mode()[1])


def waits_on(terminal):
    time.sleep(0.3)
    check(f"{terminal.command}: still waiting", None, terminal.tool.poll())


def typed(keys):
    return lambda terminal: os.write(terminal.master, keys)


def pause(seconds):
    return lambda terminal: time.sleep(seconds)


def sent(number):
    return lambda terminal: terminal.tool.send_signal(number)


def seen(text):
    return lambda terminal: terminal.read_screen(text, 5)


# Whether `text` is on the screen by now: within 5 s if it should be, and
# still not after 0.8 s if not.
def on_screen(text, want):
    def look(terminal):
        terminal.read_screen(text, 5 if want else 0.8)
        check(f"{terminal.command}: {text.decode()} on screen before the key", want, text in terminal.screen)

    return look


# Stops the foreground job, and waits for its shell to say "stopped".
def stopped(by):
    def stop(terminal):
        os.killpg(os.tcgetpgrp(terminal.master), by)
        seen(b"stopped")(terminal)

    return stop


def given_back(terminal):
    check(f"{terminal.command}: mode when stopped", terminal.first_mode, terminal.mode())


def cooked(terminal):
    termios.tcsetattr(terminal.slave, termios.TCSANOW, terminal.first_mode)


# A mode of a shell's own, set while the tool is stopped: the tool's raw mode
# with one flag of one field toggled (a line editor's prompt has ISIG on), or
# one control character changed. It must be the mode at the end.
def shell_sets_its_mode(field, flag):
    def set_mode(terminal):
        terminal.mode_at_end = terminal.mode()
        if field == 6:
            terminal.mode_at_end[6][termios.VMIN] = 2
        else:
            terminal.mode_at_end[field] ^= flag
        termios.tcsetattr(terminal.slave, termios.TCSANOW, terminal.mode_at_end)

    return set_mode


# Runs `command` on a terminal through `steps`, then checks its status, the
# mode it leaves, the bytes of input left unread, and all the screen shows.
def on_terminal(command, steps, status, screen, left=0, input_flags=0, terminal=None):
    terminal = terminal or Terminal(command, input_flags)
    for step in steps:
        step(terminal)
    check(f"{command}: status", status, finish(terminal.tool, 5))
    check(f"{command}: mode afterwards", terminal.mode_at_end, terminal.mode())
    check(f"{command}: bytes left", left, terminal.bytes_left())
    terminal.read_screen(b"\0", 0.05)  # all there is
    check(f"{command}: screen", screen, terminal.screen.decode(errors="backslashreplace"))
    os.close(terminal.master)
    os.close(terminal.slave)


expect("cp in.wav ./-n && head -c 2000000 /dev/zero > vok.wav && $Q -n missing --help", 0,
       files={"vok.wav": negated(data), "-n": data})
expect("mkdir music && mv in.wav music/音.wav && $Q music/音.wav", 0,
       files={"vok.wav": negated(data), "music/vok.wav": "no file"})
for size in 0, 1, 2, 3, 5, 256 * 1024 - 1, 256 * 1024, 256 * 1024 + 2, 3 * 256 * 1024 + 3:
    expect(f"head -c {size} in.wav > cut.wav && $Q cut.wav", 0,
           files={"vok.wav": negated(data[:size])})
expect("$Q", 1, "quaro.exe <wav file>")
expect("mkdir folder && $Q folder", 1, "input file open error\n", {"vok.wav": "no file"})
expect("cp in.wav vok.wav && $Q missing.wav", 1, "input file open error\n", {"vok.wav": data})
expect("mkdir vok.wav && $Q in.wav", 1, "output file create error\n")
expect("ln in.wav vok.wav && $Q vok.wav", 1, "output file create error\n", {"vok.wav": data})
expect("$Q /proc/self/mem", 1, "input file read error\n", {"vok.wav": b""})
expect("ln -s /dev/full vok.wav && $Q /dev/zero", 1, "output file write error\n")
# The cases of POSIX systems run natively and under qemu, not for a Windows
# program under wine; of them, those on a terminal need this system's own, so
# they run natively only.
if not sys.argv[1].endswith(".exe"):  # /dev/stdin, FIFOs, file-size limits, strace
    expect("cat in.wav | $Q /dev/stdin", 0, files={"vok.wav": negated(data)})
    expect("ulimit -f 100 && $Q in.wav", 1, "output file write error\n",  # 512-byte blocks
           {"vok.wav": negated(data)[:51200]})
    expect("mkfifo vok.wav && { : < vok.wav & } && $Q in.wav", 1, "output file write error\n")
    # A read that fails part way, the second from a FIFO: what came before it
    # is written, and nothing after. (LeakSanitizer cannot work under ptrace.)
    expect("mkfifo slow.wav && { cat in.wav > slow.wav & } && ASAN_OPTIONS=detect_leaks=0 strace "
           "-qqq -o /dev/null -P \"$PWD/slow.wav\" -e trace=read -e inject=read:error=EIO:when=2 "
           "$Q slow.wav", 1,
           "input file read error\n")
    written = contents(f"{work}/vok.wav")
    check("read failing part way: vok.wav", negated(data[: len(written)]), written)
    check("read failing part way: some of the input, not all", True, 0 < len(written) < len(data))
    # Every byte written, and the file's close failing.
    expect("ASAN_OPTIONS=detect_leaks=0 strace -qqq -o /dev/null -P \"$PWD/vok.wav\" -e trace=close "
           "-e inject=close:error=EIO $Q in.wav", 1, "output file write error\n",
           {"vok.wav": negated(data)})

if len(sys.argv) == 2:  # terminals: a native run only, with no runner
    failed = "input file open error\r\n"
    # The key comes from the controlling terminal, not standard input, and is
    # not echoed; only the input side of the terminal turns raw. There is no
    # wait after a success, or when the terminal's descriptor would be
    # FD_SETSIZE (nor without a terminal, as in every case above).
    on_terminal("printf 'y\\n' | $Q missing.wav", [raw, waits_on, typed(b"q")], 1, failed)
    on_terminal("exec $Q /dev/stdin <&-", [raw, typed(b"q")], 1, failed)
    on_terminal("exec $Q /dev/stderr <&- 2>&-", [raw, typed(b"q")], 1, "")  # nor is a closed one
    on_terminal("exec $Q in.wav", [], 0, "")
    on_terminal("exec bash -c 'ulimit -n 2048 && for ((i = 3; i < 1023; i++)); do eval "
                "\"exec $i</dev/null\"; done && exec $Q missing.wav'", [], 1, failed)
    # A key is read whole, and no more, with another typed after it at once
    # (which bytes make up a key: keys_test). A key typed before the wait (and
    # so echoed) ends it at once.
    on_terminal("exec $Q missing.wav", [raw, typed(b"\x1b[1;5Cx")], 1, failed, left=1)
    # The rest of a key may come some time after its first byte, but a lone
    # Escape is the Escape key once that time is over.
    on_terminal("exec $Q missing.wav", [raw, typed(b"\x1b"), pause(0.06), typed(b"[1;5C")], 1, failed)
    on_terminal("exec $Q missing.wav", [raw, typed(b"\x1b"), pause(0.6), typed(b"k")], 1,
                failed + "k")  # k comes after the wait, and is echoed
    on_terminal("sleep 1; exec $Q missing.wav", [typed(b"k")], 1, "k" + failed)
    sequence = b"\x1b[" + b"1;" * 20 + b"C"  # no key is that long: 32 bytes are
    on_terminal("exec $Q missing.wav", [raw, typed(sequence)], 1, failed, left=len(sequence) - 32)
    # Bytes come as typed: not stripped to 7 bits, a carriage return kept,
    # 0xFF not doubled, Ctrl+C and Ctrl+S neither a signal nor a stop.
    on_terminal("exec $Q missing.wav", [raw, typed("€".encode() + b"\r\xff\xff\x03\x13")], 1, failed,
                left=5, input_flags=termios.ISTRIP | termios.IGNCR | termios.PARMRK | termios.IXON)
    # Signals restore the mode and end the tool by the same signal, but not
    # one the caller ignores.
    for number in signal.SIGHUP, signal.SIGRTMAX:  # the first and the last
        on_terminal("exec $Q missing.wav", [raw, sent(number)], -number, failed)
    on_terminal("trap '' TERM; exec $Q missing.wav", [raw, sent(signal.SIGTERM), waits_on,
                                                       typed(b"k")], 1, failed)
    # Jobs of a shell with job control. Stopped, the tool gives the terminal
    # back; continued in the foreground it waits on; as a background job it
    # does not wait at all. SIGSTOP cannot be caught: continued, the tool
    # takes the terminal again if it is its own, and in the background ends
    # and leaves it as the shell set it. The shell reads a line before it
    # goes on, so that the mode can be seen in between.
    job = "set -m; $Q missing.wav; echo stopped; read go; "
    again = [raw, stopped(signal.SIGTSTP), given_back, typed(b"go\n")]
    on_terminal("set -m; $Q missing.wav <&- >&- 2>&-; echo stopped; read go; fg >/dev/null; "
                "echo stopped; read go; fg >/dev/null",  # no standard stream on the terminal
                again + again + [raw, waits_on, typed(b"k")], 1, "stopped\r\ngo\r\n" * 2)
    on_terminal("set -m; { sleep .5; $Q missing.wav; echo background $?; } & $Q missing.wav; "
                "echo foreground $?; wait", [raw, pause(1), typed(b"k")], 0,
                failed * 2 + "background 1\r\nforeground 1\r\n")  # even while another waits
    # Another job takes the terminal while the tool waits (no stop): the wait
    # ends, the mode put back, and the key typed later is not the tool's.
    on_terminal("set -m; { sleep .5; exec python3 -c 'import os, signal, time; signal.signal(signal."
                "SIGTTOU, signal.SIG_IGN); os.tcsetpgrp(2, os.getpgrp()); time.sleep(3)'; } & "
                "$Q missing.wav; echo $?", [raw, pause(1.5), given_back, typed(b"k")], 0,
                failed + "1\r\nk")
    # The script that ran the tool in the background ends while it waits, or
    # before it fails: the mode is back before the script's shell takes the
    # terminal back (bash keeps the mode it finds then as its own), and the
    # wait ends, with or without job control.
    for script in "set -m; sh -c '$Q missing.wav & sleep .5'", "sh -c '$Q missing.wav & sleep .3'":
        on_terminal(script + "; sleep .5; stty | grep -c -- -icanon", [raw], 1, failed + "0\r\n")
    on_terminal("mkdir vok.wav && mkfifo in.fifo && sh -c '$Q in.fifo & sleep .2' && sleep .2 && "
                "exec 3>in.fifo && sleep .5 && stty | grep -c -- -icanon", [], 1,
                "output file create error\r\n0\r\n")
    on_terminal("exec $Q missing.wav", [raw, sent(signal.SIGSTOP), cooked, sent(signal.SIGCONT),
                                        raw, waits_on, typed(b"\x1b")], 1, failed)  # a lone Escape
    for field, flag in ((0, termios.IXON), (1, termios.ONOCR), (2, termios.CLOCAL),
                        (3, termios.ISIG), (6, None)):
        on_terminal(job + "bg >/dev/null; wait %1",
                    [raw, stopped(signal.SIGSTOP), shell_sets_its_mode(field, flag),
                     typed(b"go\n")], 1, failed + "stopped\r\n")
    on_terminal(job + "bg >/dev/null; wait %1", [raw, stopped(signal.SIGSTOP), typed(b"go\n")],
                1, failed + "stopped\r\n")  # a shell that sets no mode: the first one back
    # One key ends every wait on a terminal: a run that fails while another
    # waits for a key waits with it, the terminal untouched, and ends with it,
    # nothing echoed, the first mode back. The first here reads the terminal
    # as a read-only standard input, the second through /dev/tty only (both
    # lock its node by name); then three at once, a script's & without wait,
    # and a waiting run stopped and continued in a script without job control.
    # A later run that cannot see the run that waits, in another PID
    # namespace, does not wait at all. Each script prints "second" once its
    # later run has ended.
    S = "setpriv --reuid=65534 --regid=65534 --clear-groups "
    first = "$Q missing.wav 2>/dev/null & sleep .4; "
    with_first, both = "; echo second $?; wait $!; echo first $?", "second 1\r\nfirst 1\r\n"
    runs = [("t=$(tty); $Q missing.wav <\"$t\" >/dev/null 2>&1 & sleep .4; $Q missing.wav </dev/tty "
             ">/dev/null 2>&1" + with_first, False, both),
            ("$Q missing.wav 2>/dev/null & p=$!; sleep .4; kill -STOP $p; { sleep .2; kill -CONT $p; } & "
             "$Q missing.wav 2>/dev/null; echo second $?; wait $p; echo first $?", False, both),
            ("printf 'a\\nb\\nc\\n' | xargs -P3 -n1 $Q 2>/dev/null; echo second $?", False, "second 123\r\n"),
            ("sh -c '$Q a.wav & sleep .4; $Q b.wav' 2>/dev/null; echo second $?", False, "second 1\r\n"),
            (first + "unshare -pf $Q missing.wav 2>/dev/null" + with_first, True, both)]
    # Another user's runs, who cannot open the terminal's node, lock it
    # through a standard stream: the first its input, the second its error.
    # With no stream on the terminal, a run has no lock: it leaves a terminal
    # in a wait's mode alone and does not wait, but waits on one in its first
    # mode.
    if os.geteuid() == 0:
        runs += [(f"exec 3<&0; {S}$Q missing.wav <&3 >/dev/null 2>&1 & sleep .4; {S}$Q missing.wav "
                  "</dev/null >/dev/null" + with_first, False, failed + both),
                 (first + S + "$Q missing.wav </dev/null >/dev/null 2>&1" + with_first, True, both)]
        on_terminal(f"exec {S}$Q missing.wav </dev/null >/dev/null 2>&1", [raw, typed(b"k")], 1, "")
    for script, at_once, screen in runs:
        on_terminal(script, [raw, on_screen(b"second", at_once), typed(b"k")], 0, screen)
    # A holder that lets go as a later run finds its lock taken, by a key
    # typed while that run's lock call is held up: the later run takes the
    # lock after all, so that a third run waits with it, and one more key
    # ends both.
    delayed = ("ASAN_OPTIONS=detect_leaks=0 strace -qqq -o /dev/null -P \"$t\" -e trace=fcntl "
               "-e inject=fcntl:delay_exit=1500000:when=2 ")  # the lock call, after F_GETFL
    on_terminal("t=$(tty); " + first + delayed + "$Q missing.wav 2>/dev/null & sleep 2.5; $Q missing.wav "
                "2>/dev/null; echo third $?; wait", [raw, pause(0.5), typed(b"a"), pause(2.5), typed(b"b")],
                0, "third 1\r\n")
    # A run that waits stopped, in a job of its own, gets no key: a later run
    # does not wait at all, the terminal untouched. Continued, the first
    # waits on, and puts the mode back.
    on_terminal(job + "$Q missing.wav; echo second $?; fg >/dev/null; echo first $?",
                [raw, stopped(signal.SIGTSTP), typed(b"go\n"), seen(b"second"), raw, typed(b"k")], 0,
                failed + "stopped\r\ngo\r\n" + failed + "second 1\r\nfirst 1\r\n")
    # Waits on two terminals go on side by side, even when both write to
    # /dev/tty, or one has the other's terminal as its standard input.
    first = Terminal("exec $Q missing.wav </dev/null >/dev/null 2>/dev/tty")
    raw(first)
    second = f"exec $Q missing.wav < {os.ttyname(first.slave)} >/dev/null 2>/dev/tty"
    on_terminal(second, [raw, typed(b"2")], 1, failed)
    on_terminal(first.command, [typed(b"1")], 1, failed, terminal=first)
    # A byte that another reader took first is slept past. A hang-up (SIGHUP
    # ignored) ends the wait, also when it comes in such a read.
    strace = ("ASAN_OPTIONS=detect_leaks=0 exec strace -qqq -o /dev/null -P /dev/tty -e trace=read "
              "-e inject=read:error=EAGAIN:when=1")
    on_terminal(f"{strace} $Q missing.wav", [raw, typed(b"k")], 1, failed)
    hung = Terminal(f"trap '' HUP; {strace}:delay_exit=300000 $Q missing.wav")
    for step in raw, typed(b"k"), pause(0.1), lambda terminal: os.close(terminal.master):
        step(hung)
    check(f"{hung.command}: status", 1, finish(hung.tool, 5))
    os.close(hung.slave)
summary()
