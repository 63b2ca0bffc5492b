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
    m = c.answer(c.request_id("initialize", {"capabilities": "all"}))
    check(m["error"] == {"code": -32602, "message": "'capabilities' is not an object"}, "a bad initialize: %s" % m)
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
    # Parameters not of the protocol's shape: -32602 naming the field.
    doc, pos = {"uri": URI}, {"line": 3, "character": 5}
    rng = {"start": pos, "end": pos}
    for method, params, message in [
            ("textDocument/hover", {"textDocument": doc, "position": "nowhere"}, "'position' is not an object"),
            ("textDocument/hover", {"position": pos}, "'textDocument' is missing"),
            ("textDocument/definition", {"textDocument": doc, "position": {"line": "x", "character": 0}},
             "'position.line' is not an integer"),
            ("textDocument/completion", {"textDocument": doc, "position": {"line": -1, "character": 0}},
             "'position.line' is out of range (0 to 2147483647)"),
            ("textDocument/references", {"textDocument": doc, "position": pos}, "'context' is missing"),
            ("textDocument/rename", {"textDocument": doc, "position": pos, "newName": ["Zone"]}, "'newName' is not a string"),
            ("textDocument/codeAction", {"textDocument": doc, "range": rng, "context": {"diagnostics": [
                {"range": rng, "message": "x"}, {"range": {"start": pos}, "message": "y"}]}},
             "'context.diagnostics[1].range.end' is missing"),
            ("textDocument/semanticTokens/full", [doc], "the parameters are not an object"),
            ("workspace/symbol", {"query": None}, "'query' is not a string")]:
        m = c.answer(c.request_id(method, params))
        check(m.get("error") == {"code": -32602, "message": message}, "%s %s: %s" % (method, params, m))
    # A notification with one bad change among good ones is dropped whole.
    c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2}, "contentChanges": [
        {"text": PROGRAM.replace("Area", "Zone")}, {"range": {"start": pos}, "text": ""}]})
    syms = c.request("textDocument/documentSymbol", {"textDocument": doc})
    check("Area" in [s["name"] for s in syms], "the text is as it was: %s" % syms)
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


# A program of two files and a third the project does not list.
HELPER = """ntr Helper, 0
\tcst 7, rr
\trtn 1
"""
MAIN = """ntr Main, 0
\tpsh r0
\tcst Helper, r4
\tcal -1, r4
\tpint rr
\trtn 1
end 1, Main, Main
"""


def test_project():
    with tempfile.TemporaryDirectory() as root:
        files = {"lib/helper.ic": HELPER, "main.ic": MAIN, "alone.ic": "\tcst Helper, r0\n"}
        for name, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        with open(os.path.join(root, "quorvelin.project"), "w") as f:
            f.write("# the program, in order\n\nlib/helper.ic\n  main.ic  \n")
        uri = {n: "file://" + os.path.join(root, n) for n in files}
        c = Client(SERVER)
        c.request("initialize", {"processId": None, "rootUri": "file://" + root, "capabilities": {},
                                 "initializationOptions": {"debounceMs": 50}})
        # Opening one file of the project publishes for every file, checked as one program.
        c.open(uri["main.ic"], MAIN)
        check(c.diagnostics(uri["lib/helper.ic"]) == [], "the procedure is found in the other file")
        d = c.at("textDocument/definition", uri["main.ic"], 2, 6)
        check([(x["uri"], x["range"]["start"]) for x in d] == [(uri["lib/helper.ic"], {"line": 0, "character": 4})],
              "definition in the other file: %s" % d)
        refs = c.at("textDocument/references", uri["main.ic"], 2, 6, context={"includeDeclaration": True})
        check(sorted(r["uri"] for r in refs) == sorted([uri["lib/helper.ic"], uri["main.ic"]]), "references: %s" % refs)
        edit = c.at("textDocument/rename", uri["main.ic"], 2, 6, newName="Assist")["changes"]
        check(sorted(edit) == sorted([uri["lib/helper.ic"], uri["main.ic"]]), "a rename edits both files")
        h = c.at("textDocument/hover", uri["main.ic"], 2, 6)["contents"]["value"]
        check("defined at line 1 of helper.ic" in h, h)
        syms = c.request("workspace/symbol", {"query": "hlp"})
        check([(x["name"], x["location"]["uri"]) for x in syms] == [("Helper", uri["lib/helper.ic"])],
              "workspace symbols: %s" % syms)
        check(sorted(x["name"] for x in c.request("workspace/symbol", {"query": ""})) == ["Helper", "Main"],
              "every procedure of the workspace")
        # The MIPS of a line of the second file is what the translator writes for it in the whole program.
        full = subprocess.run([os.path.join(BUILD, "quorvelin"), os.path.join(root, "lib/helper.ic"),
                               os.path.join(root, "main.ic")], capture_output=True).stdout.decode()
        check(hover_text(c.at("textDocument/hover", uri["main.ic"], 3, 0)) in full, "hover of a project line")
        # An open buffer takes the place of the file on disk: the checker sees the procedure renamed there.
        c.notify("textDocument/didOpen", {"textDocument": {"uri": uri["lib/helper.ic"], "languageId": "qvic",
                                          "version": 1, "text": HELPER.replace("Helper", "Helped")}})
        want = checker_report_files(root, ["lib/helper.ic", "main.ic"], {"lib/helper.ic": HELPER.replace("Helper", "Helped")})
        got = {}
        for _ in range(2):
            m = c.wait_for(lambda m: m.get("method") == "textDocument/publishDiagnostics")
            got[m["params"]["uri"]] = [(d["range"]["start"]["line"], d.get("code")) for d in m["params"]["diagnostics"]]
        check(got == {uri[n]: want[n] for n in want}, "diagnostics per file:\n%s\n%s" % (got, want))
        # Closing it puts the disk's text back.
        c.notify("textDocument/didClose", {"textDocument": {"uri": uri["lib/helper.ic"]}})
        check(c.diagnostics(uri["main.ic"]) == [] and c.diagnostics(uri["lib/helper.ic"]) == [], "the disk text again")
        # A file the project does not list is a program of its own.
        diags = c.open(uri["alone.ic"], files["alone.ic"])
        check("undefined-label" in [d.get("code") for d in diags], "alone: %s" % diags)
        check(c.at("textDocument/definition", uri["alone.ic"], 0, 6) == [], "alone sees no other file")
        c.shutdown()


def checker_report_files(root, names, replaced):
    """quorvelin-check on several files: per file, (0-based line, rule) of each diagnostic."""
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for n in names:
            path = os.path.join(tmp, n.replace("/", "_"))
            with open(path, "w") as f:
                f.write(replaced.get(n) or open(os.path.join(root, n)).read())
            paths.append(path)
        err = subprocess.run([os.path.join(BUILD, "quorvelin-check")] + paths, capture_output=True).stderr.decode()
        out = {n: [] for n in names}
        for line in err.splitlines():
            m = re.match(r"^(.+?):(\d+):(?:\d+:)? (?:error|warning): .*?(?: \[-W([a-z-]+)\])?$", line)
            if m and m.group(1) in paths:
                out[names[paths.index(m.group(1))]].append((int(m.group(2)) - 1, m.group(3)))
        return out


def apply_edits(text, edits):
    lines = text.split("\n")
    for e in sorted(edits, key=lambda e: (-e["range"]["start"]["line"], -e["range"]["start"]["character"])):
        s, t = e["range"]["start"], e["range"]["end"]
        lines[s["line"]] = lines[s["line"]][:s["character"]] + e["newText"] + lines[s["line"]][t["character"]:]
    return "\n".join(lines)


def decode_tokens(legend, text, data):
    lines, out, line, col = text.split("\n"), [], 0, 0
    for i in range(0, len(data), 5):
        dl, dc, n, t, mods = data[i:i + 5]
        line, col = line + dl, (col + dc if dl == 0 else dc)
        u16 = lines[line].encode("utf-16-le")
        word = u16[2 * col:2 * (col + n)].decode("utf-16-le")
        out.append((line, word, legend["tokenTypes"][t] + (".decl" if mods & 1 else "")))
    return out


def test_actions_tokens():
    c = Client(SERVER)
    caps = c.initialize()["capabilities"]
    # Quick fixes: each "did you mean" applied gives a text the checker no longer complains of there.
    text = PROGRAM.replace("brf r0, Small", "brf r0, Smal").replace("\tval r0", "\tvla r0") \
        .replace("\tbra Out", "\tbra Out\nL1 bra Out")
    diags = c.open(URI, text)
    fixed = text
    for d in diags:
        acts = c.request("textDocument/codeAction", {"textDocument": {"uri": URI}, "range": d["range"],
                                                     "context": {"diagnostics": [d]}})
        for a in acts:
            check(a["kind"] == "quickfix" and a["diagnostics"] == [d], "a quick fix for its diagnostic")
            fixed = apply_edits(fixed, a["edit"]["changes"][URI])
    check(fixed == PROGRAM.replace("\tbra Out", "\tbra Out\nL1: bra Out"), "the fixes:\n" + fixed)
    check(c.request("textDocument/codeAction", {"textDocument": {"uri": URI}, "range": diags[0]["range"],
                                                "context": {"diagnostics": [{"range": diags[0]["range"],
                                                            "message": "did you mean '<FF>'?"}]}}) == [],
          "no fix with a name the message could not show")
    # Semantic tokens, read back through the legend the server declared.
    legend = caps["semanticTokensProvider"]["legend"]
    check(legend["tokenTypes"] == ["keyword", "label", "variable", "number", "string", "comment", "macro"]
          and legend["tokenModifiers"] == ["declaration"], "the legend: %s" % legend)
    marked = '//#line 3 "shape.c"\n' + PROGRAM.replace("\tcst 2, r1", "\tcst 2, r1 // two")
    c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 5}, "contentChanges": [{"text": marked}]})
    data = c.request("textDocument/semanticTokens/full", {"textDocument": {"uri": URI}})["data"]
    toks = decode_tokens(legend, marked, data)
    want = [(0, '//#line 3 "shape.c"', "macro"),
            (1, "cls", "keyword"), (1, "Shape", "label.decl"), (1, "Shape", "label"),
            (2, "mth", "keyword"), (2, "Area", "label"),
            (7, "cst", "keyword"), (7, "2", "number"), (7, "r1", "variable"), (7, "// two", "comment"),
            (11, "Small", "label.decl"), (11, "dbg", "keyword"),
            (14, "str", "keyword"), (14, "Title", "label.decl"), (14, '"area: "', "string"),
            (17, "pshf", "keyword"), (17, "fp2", "variable"),
            (22, "Area", "label"), (22, "r4", "variable"), (23, "-1", "number"), (23, "r4", "variable"),
            (27, "end", "keyword"), (27, "1", "number"), (27, "Shape", "label"), (27, "Main", "label")]
    for w in want:
        check(w in toks, "token %s in %s" % (w, [t for t in toks if t[0] == w[0]]))
    # A line the reader cuts in two (past 99 characters): the opcode after the cut is one.
    marked = marked.replace("\tpint rr", "\tpint rr" + " " * 30)
    c.notify("textDocument/didChange", {"textDocument": {"uri": URI, "version": 6}, "contentChanges": [{"text": marked}]})
    toks = decode_tokens(legend, marked, c.request("textDocument/semanticTokens/full", {"textDocument": {"uri": URI}})["data"])
    cut = [t for t in toks if t[0] == 24]
    check(cut == [(24, "pint", "keyword"), (24, "rr", "variable"), (24, "pln", "keyword")], "a cut line: %s" % cut)
    c.shutdown()


if __name__ == "__main__":
    globals()["test_" + GROUP]()
    print("ok", GROUP)
