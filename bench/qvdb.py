"""quorvelin-debug on a pseudo-terminal, as a person uses it: cmd() sends one
command and times it up to the next prompt.  Shared by bench/debug.sh and
bench/spim.py."""
import os
import select
import sys
import time

PROMPT = b"(qvdb) "


class Session:
    def __init__(self, argv, cwd=None):
        self.t0 = time.perf_counter()
        self.pid, self.fd = os.forkpty()
        if self.pid == 0:
            if cwd:
                os.chdir(cwd)
            os.environ["TERM"] = "xterm"
            os.execv(argv[0], argv)
        self.buf = b""
        self.wait_prompt()
        self.startup = time.perf_counter() - self.t0

    def wait_prompt(self, timeout=300):
        end = time.time() + timeout
        while (i := self.buf.find(PROMPT)) < 0:
            r, _, _ = select.select([self.fd], [], [], max(0.0, end - time.time()))
            if not r:
                sys.exit("timed out; the screen ends with " + repr(self.buf[-400:]))
            self.buf += os.read(self.fd, 65536)
        seen, self.buf = self.buf[:i], self.buf[i + len(PROMPT):]
        return seen.decode(errors="replace")

    def cmd(self, line):
        t = time.perf_counter()
        os.write(self.fd, line.encode() + b"\r")
        seen = self.wait_prompt()
        return time.perf_counter() - t, seen

    def close(self):
        os.write(self.fd, b"quit\r")
        os.waitpid(self.pid, 0)
        os.close(self.fd)
