"""A small Language Server Protocol client for the tests: starts the server,
frames messages, and waits for answers and notifications."""
import json
import os
import select
import subprocess


class Client:
    def __init__(self, server, debounce_ms=50):
        self.proc = subprocess.Popen([server], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.buf = b""
        self.next_id = 1
        self.inbox = []  # messages read and not yet taken
        self.debounce_ms = debounce_ms

    # ---- framing ----
    def write_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    @staticmethod
    def frame(msg):
        body = json.dumps(msg).encode() if not isinstance(msg, bytes) else msg
        return b"Content-Length: %d\r\n\r\n" % len(body) + body

    def send(self, msg):
        self.write_raw(self.frame(msg))

    def read_one(self, timeout=20):
        while True:
            head_end = self.buf.find(b"\r\n\r\n")
            if head_end >= 0:
                head = self.buf[:head_end].decode()
                length = int(head.split("Content-Length:")[1].split("\r\n")[0])
                if len(self.buf) >= head_end + 4 + length:
                    body = self.buf[head_end + 4:head_end + 4 + length]
                    self.buf = self.buf[head_end + 4 + length:]
                    return json.loads(body)
            ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
            if not ready:
                raise TimeoutError("no message from the server")
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise EOFError("the server closed its output")
            self.buf += chunk

    def wait_for(self, pred):
        for i, m in enumerate(self.inbox):
            if pred(m):
                return self.inbox.pop(i)
        while True:
            m = self.read_one()
            if pred(m):
                return m
            self.inbox.append(m)

    # ---- messages ----
    def request_id(self, method, params):
        rid = self.next_id
        self.next_id += 1
        self.send({"jsonrpc": "2.0", "id": rid, "method": method, "params": params})
        return rid

    def answer(self, rid):
        return self.wait_for(lambda m: m.get("id") == rid and "method" not in m)

    def request(self, method, params=None):
        m = self.answer(self.request_id(method, params or {}))
        if "error" in m:
            raise RuntimeError("%s: %s" % (method, m["error"]))
        return m["result"]

    def notify(self, method, params=None):
        self.send({"jsonrpc": "2.0", "method": method, "params": params or {}})

    def diagnostics(self, uri):
        m = self.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics"
                          and m["params"]["uri"] == uri)
        return m["params"]["diagnostics"]

    def initialize(self):
        res = self.request("initialize", {
            "processId": None, "rootUri": None,
            "capabilities": {"textDocument": {"completion": {"completionItem": {"snippetSupport": True}}}},
            "initializationOptions": {"debounceMs": self.debounce_ms}})
        self.notify("initialized")
        return res

    def open(self, uri, text, version=1):
        self.notify("textDocument/didOpen", {"textDocument": {
            "uri": uri, "languageId": "qvic", "version": version, "text": text}})
        return self.diagnostics(uri)

    def at(self, method, uri, line, character, **extra):
        params = {"textDocument": {"uri": uri}, "position": {"line": line, "character": character}}
        params.update(extra)
        return self.request(method, params)

    def shutdown(self):
        self.request("shutdown")
        self.notify("exit")
        return self.proc.wait(timeout=20)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
