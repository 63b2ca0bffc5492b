"""Protocol-level tests of quorvelin-lsp, driving the real binary.

    lsp_test.py GROUP BUILD_DIR EXAMPLES_DIR

The answers are held against the other commands where they can be: the
diagnostics against quorvelin-check on the same text, the MIPS of a hover
against what quorvelin writes for the whole program."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Client  # noqa: E402

GROUP, BUILD, EXAMPLES = sys.argv[1], sys.argv[2], sys.argv[3]
SERVER = os.path.join(BUILD, "quorvelin-lsp")
URI = "file:///work/prog.ic"

# A program with procedures, a class table, strings, internal labels (dbg,
# comparisons), a float register and a line the reader cuts in two.
PROGRAM = """cls Shape, Shape
\tmth Area
\tmth Show
ntr Area, 0
\tvar 0, -16, r0
\tval r0
\tcst 2, r1
\tleq r1, r0
\tbrf r0, Small
\trtn r1, 1
Small:\tdbg here
\trtn r0, 1
ntr Show, 0
\tstr Title "area: "
\tcst Title, r0
\tpstr r0
\tpshf fp2
\trtn 1
ntr Main, 0
\tcst 5, r0
\tpsh r0
\tcst Area, r4
\tcal -1, r4
\tpint rr""" + " " * 80 + """pln
\tbra Out
Out:\trtn 1
end 1, Shape, Main
"""


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def run(cmd, text):
    with tempfile.NamedTemporaryFile("w", suffix=".ic", delete=False) as f:
        f.write(text)
    try:
        return subprocess.run(cmd + [f.name], capture_output=True)
    finally:
        os.unlink(f.name)


def checker_report(text):
    """quorvelin-check's diagnostics: (line, byte column, severity, rule, notes)."""
    err = run([os.path.join(BUILD, "quorvelin-check")], text).stderr.decode("utf-8", "replace")
    out = []
    for line in err.splitlines():
        m = re.match(r"^[^:]+:(\d+):(\d+)?:? ?(error|warning|note): .*?(?: \[-W([a-z-]+)\])?$", line)
        if not m:
            continue
        if m.group(3) == "note":
            out[-1][4] += 1
        else:
            out.append([int(m.group(1)), int(m.group(2) or 1), m.group(3), m.group(4), 0])
    return out


def utf16_col(text, line, byte_col):
    b = text.split("\n")[line].encode("utf-8")[:byte_col]
    return len(b.decode("utf-8", "replace").encode("utf-16-le")) // 2


def same_as_checker(text, diags):
    """The published diagnostics are the checker's, at its places in UTF-16 columns."""
    want = checker_report(text)
    got = [[d["range"]["start"]["line"], d["range"]["start"]["character"],
            {1: "error", 2: "warning"}[d["severity"]], d.get("code"), len(d.get("relatedInformation", []))]
           for d in diags]
    want = [[l - 1, utf16_col(text, l - 1, c - 1), s, r, n] for l, c, s, r, n in want]
    check(got == want, "diagnostics differ from quorvelin-check:\n%s\n%s" % (got, want))


def client():
    c = Client(SERVER)
    c.initialize()
    return c


def example(name):
    with open(os.path.join(EXAMPLES, name)) as f:
        return f.read()


FAULTY = example("factorial.ic").replace("Recurse: mov r0, r3", "Recurse: mov r0, r14") \
    .replace("brf r2, Recurse", "brf r2, Recurse\n\tpsh r0").replace("\tcal -1, r5", "\tcal -1, r5\n\tPln")


def test_diagnostics():
    c = client()
    check(c.open("file:///work/fact.ic", example("factorial.ic")) == [], "a clean program has an empty list")
    same_as_checker(FAULTY, c.open(URI, FAULTY))
    # An incremental change: a label misspelt; then a full change puts it right.
    line = FAULTY.split("\n").index("\tbrf r2, Recurse")
    c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2}, "contentChanges": [
        {"range": {"start": {"line": line, "character": 9}, "end": {"line": line, "character": 16}}, "text": "Rceurse"}]})
    changed = FAULTY.replace("brf r2, Recurse", "brf r2, Rceurse")
    same_as_checker(changed, c.diagnostics(URI))
    # Changes in a burst are checked once they stop: the first diagnostics after them are of the last text.
    slow = Client(SERVER, debounce_ms=400)
    slow.initialize()
    slow.open(URI, FAULTY)
    burst = b"".join(slow.frame({"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {
        "textDocument": {"uri": URI, "version": v}, "contentChanges": [{"text": t}]}})
        for v, t in [(2, changed), (3, "garbage\n"), (4, example("factorial.ic"))])
    slow.write_raw(burst)
    m = slow.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics")
    check(m["params"]["version"] == 4 and m["params"]["diagnostics"] == [], "debounced diagnostics are of the last change")
    slow.shutdown()
    c.notify("textDocument/didSave", {"textDocument": {"uri": URI}})
    same_as_checker(changed, c.diagnostics(URI))
    c.notify("textDocument/didClose", {"textDocument": {"uri": URI}})
    check(c.diagnostics(URI) == [], "closing clears the diagnostics")
    check(c.shutdown() == 0, "exit status after shutdown")


def gap(line):
    """A column on no token and right behind none: the hover there is the line's MIPS."""
    if not line.strip() or line.startswith("//"):
        return 0
    for i, ch in enumerate(line):
        if ch in " \t," and (i == 0 or line[i - 1] in " \t,:"):
            return i
    return None


def hover_text(h):
    if h is None:
        return ""
    m = re.match(r"^(`{3,})asm\n(.*)\1$", h["contents"]["value"], re.S)
    check(m, "a line's hover is one code block: %r" % h)
    return m.group(2)


def test_hover():
    c = client()
    header = run([os.path.join(BUILD, "quorvelin")], "").stdout.decode()
    for text in [PROGRAM, example("hello.ic"), example("factorial.ic")]:
        c.open(URI, text)
        got = ""
        for n, line in enumerate(text.split("\n")):
            col = gap(line)
            check(col is not None, "no free column in " + line)
            got += hover_text(c.at("textDocument/hover", URI, n, col))
        want = run([os.path.join(BUILD, "quorvelin")], text).stdout.decode()
        check(want.startswith(header) and want[len(header):] == got, "the lines' MIPS is the translator's")
    c.open(URI, PROGRAM)
    lines = PROGRAM.split("\n")
    h = c.at("textDocument/hover", URI, 9, 2)["contents"]["value"]  # rtn
    check("rtn reg|count, [num]" in h and "returns" in h, "an opcode's operands and what it does: " + h)
    h = c.at("textDocument/hover", URI, 14, 6)["contents"]["value"]  # cst Title
    check("string `Title`, defined at line 14" in h and "area: " in h, h)
    h = c.at("textDocument/hover", URI, 26, 10)["contents"]["value"]  # end 1, Shape
    check("class table `Shape`" in h and "`Area`, `Show`" in h, h)
    h = c.at("textDocument/hover", URI, lines.index("\tbrf r0, Small"), 10)["contents"]["value"]
    check("line label `Small`, defined at line 11" in h, h)
    c.shutdown()


def pos_of(text, needle, nth=0):
    lines = text.split("\n")
    hits = [(i, l.find(needle)) for i, l in enumerate(lines) if needle in l]
    return hits[nth]


def test_labels():
    c = client()
    c.open(URI, PROGRAM)
    line, col = pos_of(PROGRAM, "Area, r4")
    d = c.at("textDocument/definition", URI, line, col + 2)
    check([x["range"]["start"] for x in d] == [{"line": 3, "character": 4}], "definition of a procedure: %s" % d)
    d = c.at("textDocument/definition", URI, *pos_of(PROGRAM, "Out", 0))
    check([x["range"]["start"]["line"] for x in d] == [25], "definition of a line label")
    refs = c.at("textDocument/references", URI, 3, 5, context={"includeDeclaration": True})
    check(sorted(r["range"]["start"]["line"] for r in refs) == [1, 3, 21], "references of Area: %s" % refs)
    refs = c.at("textDocument/references", URI, 3, 5, context={"includeDeclaration": False})
    check(len(refs) == 2, "references without the definition")
    hl = c.at("textDocument/documentHighlight", URI, 3, 5)
    check(sorted(h["kind"] for h in hl) == [2, 2, 3], "one write, two reads")
    check(c.at("textDocument/prepareRename", URI, 4, 6) is None, "a register is not renamed")
    edit = c.at("textDocument/rename", URI, 1, 6, newName="Surface")["changes"][URI]
    lines = PROGRAM.split("\n")
    for e in sorted(edit, key=lambda e: -e["range"]["start"]["character"]):
        s, t = e["range"]["start"], e["range"]["end"]
        check(s["line"] == t["line"], "one line per edit")
        lines[s["line"]] = lines[s["line"]][:s["character"]] + e["newText"] + lines[s["line"]][t["character"]:]
    renamed = "\n".join(lines)
    check(renamed == PROGRAM.replace("Area", "Surface"), "rename changes every Area and nothing else")
    for bad in ["r5", "add", "two words", "Show"]:
        m = c.answer(c.request_id("textDocument/rename", {"textDocument": {"uri": URI},
                                  "position": {"line": 1, "character": 6}, "newName": bad}))
        check(m.get("error", {}).get("code") == -32602, "rename to %r refused" % bad)
    c.shutdown()


def test_symbols_completion():
    c = client()
    c.open(URI, PROGRAM)
    syms = c.request("textDocument/documentSymbol", {"textDocument": {"uri": URI}})
    got = [(s["name"], s["kind"], [k["name"] for k in s.get("children", [])], s["range"]["start"]["line"],
            s["range"]["end"]["line"]) for s in syms]
    check(got == [("Shape", 5, ["Area", "Show"], 0, 2), ("Area", 12, [], 3, 11), ("Show", 12, [], 12, 17),
                  ("Title", 15, [], 13, 13), ("Main", 12, [], 18, 25)], "symbols: %s" % got)

    def labels(line_text):
        c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 9},
                                            "contentChanges": [{"text": PROGRAM + line_text + "\n"}]})
        items = c.at("textDocument/completion", URI, PROGRAM.count("\n"), len(line_text))
        return sorted(i["label"] for i in items)
    opcodes = c.at("textDocument/completion", URI, 4, 1)
    check(len(opcodes) == 60, "every opcode")
    add = next(i for i in opcodes if i["label"] == "add")
    check(add["insertText"] == "add ${1:reg}, ${2:reg}" and add["insertTextFormat"] == 2, "a snippet: %s" % add)
    regs = ["r%d" % i for i in range(14)] + ["rr"]
    check(labels("\tbrf r0, ") == ["Out", "Small"], "a branch wants line labels")
    check(labels("\tcal -1, ") == sorted(["Area", "Main", "Show"] + regs), "a call: procedures and registers")
    check(labels("\tcls Box, ") == ["Box", "Shape"], "a superclass is a class table")
    check(labels("\tcst ") == ["Area", "Main", "Out", "Shape", "Show", "Small", "Title"], "cst takes any label")
    check(labels("\tpshf f") == sorted("fp%d" % i for i in range(32)), "a float register")
    check(labels("\tadd r") == sorted(regs), "a register, partly written")
    check(labels("\tpln // a") == [] and labels('\tstr X "a') == [], "nothing in a comment or a literal")
    c.shutdown()


def test_positions():
    # Non-ASCII bytes ahead of the places that matter, one of them beyond the
    # basic plane (two UTF-16 units).
    text = '\tstr Smile "h\u00e9\U0001F600"\n\u00e9\U0001F600: bra Done\n\tpsh r0 // \u00fc\nDone:\trtn r14, 1\n'
    c = client()
    same_as_checker(text, c.open(URI, text))
    col = len("\u00e9\U0001F600: bra ".encode("utf-16-le")) // 2
    d = c.at("textDocument/definition", URI, 1, col + 1)
    check(d and d[0]["range"]["start"] == {"line": 3, "character": 0}, "a label after two-unit characters: %s" % d)
    # Done -> Dnoe by an incremental change in UTF-16 columns.
    c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2}, "contentChanges": [
        {"range": {"start": {"line": 1, "character": col}, "end": {"line": 1, "character": col + 4}}, "text": "Dnoe"}]})
    same_as_checker(text.replace("bra Done", "bra Dnoe"), c.diagnostics(URI))
    h = c.at("textDocument/hover", URI, 1, col + 1)
    check(h["range"]["start"]["character"] == col, "the hover's range in UTF-16 columns")
    c.shutdown()


def test_robustness():
    c = Client(SERVER)
    m = c.answer(c.request_id("textDocument/hover", {}))
    check(m["error"]["code"] == -32002, "a request before initialize")
    c.initialize()
    c.open(URI, PROGRAM)
    for raw in [b"{not json", b'{"jsonrpc": "2.0", "id": 5, "method": "x", "params": "\xff\xfe"}', b"[1, 2", b""]:
        c.write_raw(c.frame(raw))
        m = c.wait_for(lambda m: "error" in m)
        check(m["error"]["code"] == -32700 and m["id"] is None, "malformed JSON: %s" % m)
    c.write_raw(b"Content-Type: text/plain\r\n\r\n")
    check(c.wait_for(lambda m: "error" in m)["error"]["code"] == -32700, "a header without a length")
    m = c.answer(c.request_id("textDocument/frobnicate", {}))
    check(m["error"]["code"] == -32601, "an unknown method")
    c.notify("$/unknownNotification", {})
    m = c.answer(c.request_id("textDocument/hover", {"textDocument": {"uri": URI}, "position": {"line": "x"}}))
    check(m["error"]["code"] == -32602, "parameters of the wrong type")
    c.write_raw(c.frame({"jsonrpc": "2.0", "id": {"a": 1}, "method": "shutdown"}))
    check(c.wait_for(lambda m: "error" in m)["error"]["code"] == -32600, "an id that is an object")
    for line, ch in [(10**6, 0), (0, 10**6), (26, 3)]:
        for method in ["hover", "definition", "completion", "references", "documentHighlight"]:
            c.at("textDocument/" + method, URI, line, ch, context={"includeDeclaration": True})
    # Random bytes, in frames and out of them: the server keeps serving.
    rnd = __import__("random").Random(18)
    for _ in range(200):
        junk = bytes(rnd.randrange(256) for _ in range(rnd.randrange(64)))
        c.write_raw(c.frame(junk) if rnd.random() < 0.5 else junk)
    c.write_raw(b"\r\n\r\n" * 3)
    c.open("file:///work/junk.ic", "".join(chr(rnd.randrange(1, 0x2FF)) for _ in range(3000)))
    check(c.request("textDocument/hover", {"textDocument": {"uri": URI}, "position": {"line": 3, "character": 5}}),
          "still serving after junk")
    # A request cancelled before it is handled gets -32800; cancelling one answered already does nothing.
    rid = c.next_id
    c.write_raw(c.frame({"jsonrpc": "2.0", "id": rid, "method": "textDocument/documentSymbol",
                         "params": {"textDocument": {"uri": URI}}}) +
                c.frame({"jsonrpc": "2.0", "method": "$/cancelRequest", "params": {"id": rid}}))
    c.next_id += 1
    check(c.answer(rid)["error"]["code"] == -32800, "a cancelled request")
    c.notify("$/cancelRequest", {"id": 1})
    check(c.request("shutdown") is None, "shutdown")
    check(c.answer(c.request_id("textDocument/hover", {}))["error"]["code"] == -32600, "requests after shutdown")
    c.notify("exit")
    check(c.proc.wait(timeout=20) == 0, "exit after shutdown: 0")
    # exit without shutdown, and the end of input without exit: status 1.
    c = client()
    c.notify("exit")
    check(c.proc.wait(timeout=20) == 1, "exit without shutdown: 1")
    c = client()
    c.proc.stdin.close()
    check(c.proc.wait(timeout=20) == 1, "end of input: 1")


if __name__ == "__main__":
    globals()["test_" + GROUP]()
    print("ok", GROUP)
