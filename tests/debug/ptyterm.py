"""A terminal for quorvelin-debug's pty tests: the debugger runs on the slave
side of a pseudo-terminal as its controlling terminal (so Ctrl-C, Ctrl-D and
a hang-up act as they do for a person), keys are typed one at a time, and
what the screen shows is read from the master side.

The slave stays open here too, as a shell keeps its terminal open, so its
settings can be compared before and after the debugger.
"""
import fcntl
import os
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

TIMEOUT = float(os.environ.get("QV_PTY_TIMEOUT", "20"))
PROMPT = "(qvdb) "
UP = "\x1b[A"


def fail(msg):
    sys.exit("FAIL: " + msg)


def check(cond, msg, screen=""):
    if not cond:
        fail(msg + ("\n--- the screen shows:\n" + screen[-1500:] if screen else ""))


def _term_attrs(fd):
    """The settings `stty -a` shows, without the terminal speed fields."""
    a = termios.tcgetattr(fd)
    return [a[0], a[1], a[2], a[3], list(a[6])]


def spim_alive(pid):
    """True while the process runs (a zombie has ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def spim_children(pid):
    """SPIM processes started by process `pid`."""
    found = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat.rsplit(")", 1)[1].split()
        if int(fields[1]) == pid and "spim" in comm and fields[0] != "Z":
            found.append(int(d))
    return found


class Term:
    def __init__(self, debug, folder, args, env=None):
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
        self.before = _term_attrs(self.slave)
        self.home = tempfile.TemporaryDirectory()
        e = dict(os.environ, TERM="xterm", HOME=self.home.name)
        e.update(env or {})
        slave = self.slave

        def controlling():
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen([os.path.abspath(debug)] + args, cwd=folder, env=e, stdin=slave, stdout=slave, stderr=slave,
                                     start_new_session=True, preexec_fn=controlling, close_fds=True)
        self.screen = ""  # everything shown so far, \r removed
        self.pos = 0      # how far expect() has read
        self.pending = ""
        self.spim = []

    # --- reading the screen
    def _read(self, wait):
        r, _, _ = select.select([self.master], [], [], wait)
        if not r:
            return True
        try:
            chunk = os.read(self.master, 65536)
        except OSError:
            chunk = b""
        if not chunk:
            return False
        # Colours and cursor movements are not text on the screen; an escape
        # cut at the end of a read waits for the rest.
        text = self.pending + chunk.decode(errors="replace").replace("\r", "")
        cut = re.search(r"\x1b(\[[0-9;?]*)?$", text)
        self.pending = text[cut.start():] if cut else ""
        text = text[:cut.start()] if cut else text
        self.screen += re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
        return True

    def expect(self, text, timeout=TIMEOUT):
        """Waits for `text` (a string, or a compiled regex) after what was
        already read; returns the screen from there to the end of the match."""
        end = time.time() + timeout
        while True:
            if isinstance(text, str):
                i = self.screen.find(text, self.pos)
                m_end = i + len(text) if i >= 0 else -1
            else:
                m = text.search(self.screen, self.pos)
                m_end = m.end() if m else -1
            if m_end >= 0:
                seen = self.screen[self.pos:m_end]
                self.pos = m_end
                return seen
            left = end - time.time()
            if left <= 0:
                fail(f"timed out waiting for {text!r}; the screen ends with:\n{self.screen[-1500:]}")
            if not self._read(min(left, 0.5)):
                fail(f"the terminal closed while waiting for {text!r}; the screen ends with:\n{self.screen[-1500:]}")

    def prompt(self):
        """The screen up to the next prompt."""
        return self.expect(PROMPT)

    # --- typing
    def keys(self, s):
        for ch in s:
            os.write(self.master, ch.encode())
            time.sleep(0.002)

    def line(self, s):
        self.keys(s)
        os.write(self.master, b"\r")

    def cmd(self, s):
        """Types a command and returns what it shows up to the next prompt,
        without the echoed command line itself."""
        self.line(s)
        seen = self.prompt()
        first = seen.find("\n")
        return seen[first + 1:] if first >= 0 else seen

    def ctrl(self, letter):
        os.write(self.master, bytes([ord(letter.upper()) - 64]))

    # --- the end
    def note_spim(self):
        """Remembers the SPIM processes running under the debugger now."""
        self.spim = spim_children(self.proc.pid)
        check(self.spim, "no SPIM runs under the debugger")

    def wait_exit(self, timeout=TIMEOUT):
        end = time.time() + timeout
        while self.proc.poll() is None:
            if time.time() > end:
                self.proc.kill()
                fail("the debugger did not end; the screen ends with:\n" + self.screen[-1500:])
            self._read(0.05)
        return self.proc.returncode

    def no_spim_left(self, what):
        end = time.time() + 5
        while any(spim_alive(p) for p in self.spim) and time.time() < end:
            time.sleep(0.05)
        left = [p for p in self.spim if spim_alive(p)]
        for p in left:
            os.kill(p, signal.SIGKILL)
        check(not left, f"SPIM ({left}) is left running after {what}")

    def same_terminal(self, what):
        after = _term_attrs(self.slave)
        if after != self.before:
            names = ["iflag", "oflag", "cflag", "lflag", "cc"]
            diff = [n for n, b, a in zip(names, self.before, after) if a != b]
            fail(f"the terminal's settings differ after {what}: {', '.join(diff)}")

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.home.cleanup()


def has(screen, pattern, msg):
    """Asserts that a regular expression matches the screen."""
    check(re.search(pattern, screen, re.M), f"{msg} (wanted /{pattern}/)", screen)


def hasnt(screen, pattern, msg):
    check(not re.search(pattern, screen, re.M), f"{msg} (unwanted /{pattern}/)", screen)
