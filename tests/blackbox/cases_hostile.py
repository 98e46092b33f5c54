"""Hostile input: identifiers that try to leave the allowlist, oversized parameters, log files
with hostile bytes and shapes, and loops in the tree. Every answer is one complete document."""
import json
import os
from pathlib import Path

from run import JSON_HEADER, Case, doc, echo, json_str

REFUSAL = ('{"ok":false,"error":"source_not_allowed","message":"that path is not in this '
           "plugin's read allowlist; call action=sources for the current list\",\"requested\":")


def pct(raw: bytes) -> str:
    """Every byte percent-encoded, so the program decodes exactly raw."""
    return "".join("%%%02X" % b for b in raw)


def refused(src: bytes) -> bytes:
    """The refusal for a decoded src: the echo is at most its first 31 bytes, up to a NUL."""
    return doc(REFUSAL.encode() + json_str(echo(src.split(b"\0", 1)[0])) + b"}")


def parse_doc(out: bytes):
    """The body as JSON (bytes that are not UTF-8 read as a browser would), or an error text."""
    if not out.startswith(JSON_HEADER):
        return None, f"no JSON header: {out[:80]!r}"
    body = out[len(JSON_HEADER):]
    if not body.endswith(b"\n") or b"\n" in body[:-1]:
        return None, "body is not exactly one line"
    if any(b < 0x20 for b in body[:-1]):
        return None, "raw control byte in the body"
    try:
        return json.loads(body.decode("utf-8", "replace")), None
    except ValueError as e:
        return None, f"body does not parse: {e}: {body[:200]!r}"


def tail_ok(check=None):
    """A complete tail document with ok true; check(entries) may add a finding."""
    def expect(out):
        d, err = parse_doc(out)
        if err:
            return err
        if d.get("ok") is not True:
            return f"not ok: {str(d)[:300]}"
        return check(d["entries"]) if check else None
    return expect


def complete_doc(out):
    """Any one complete document: ok, or an error the reader reports."""
    return parse_doc(out)[1]


def lacks_marker(marker: Path, want: bytes):
    def expect(out):
        if out != want:
            return f"unexpected output {out[:300]!r}"
        if marker.exists():
            return "a command ran: " + marker.read_text()
        return None
    return expect


def cases(t, tmp):
    local = str(tmp / "local")
    root = Path(t.root(local))
    (root / "sub").mkdir(parents=True)
    (root / "app.log").write_bytes(b"2024-01-02T03:04:05Z hello\n")
    good = t.file_id(str(root / "app.log"))
    sep = t.sep
    path = t.path(str(root / "app.log"))

    # Identifiers that name the same file, a neighbour or something else by another spelling.
    escapes = [
        ("dot-dot through the root", t.file_id(str(root / "sub")) + sep + ".." + sep + "app.log"),
        ("dot segment", t.file_id(str(root)) + sep + "." + sep + "app.log"),
        ("parent of the root", t.file_id(str(root)) + sep + ".." + sep + "secret.log"),
        ("relative path", "file:app.log"),
        ("relative path with folder", "file:wendquil" + sep + "app.log"),
        ("absolute system file", "file:" + ("C:\\Windows\\win.ini" if t.kind == "wine" else "/etc/passwd")),
        ("other drive", "file:D" + path[1:] if t.kind == "wine" else "file:D:" + path),
        ("UNC path", "file:\\\\127.0.0.1\\c$\\Windows\\win.ini"),
        ("device path", "file:\\\\?\\" + path),
        ("forward slashes", "file:" + path.replace("\\", "/") if t.kind == "wine" else
         "file:" + path.replace("/", "//")),
        ("upper case", good.upper()),
        ("upper-case prefix", "FILE:" + path),
        ("trailing space", good + " "),
        ("trailing dot", good + "."),
        ("alternate data stream", good + "::$DATA"),
        ("no prefix", path),
        ("event:Security", "event:Security"),
        ("event:system lower case", "event:system"),
        ("event:System with trailing space", "event:System "),
        ("event:System & calc", "event:System & calc"),
        ("event:System;id", "event:System;id"),
        ("event:System with command substitution", "event:$(id)"),
        ("very long identifier", "file:" + "A" * 5000),
        ("id of 599 bytes plus a good one", "x" * 599 + good),
    ]
    out = []
    for name, src in escapes:
        raw = src.encode("utf-8", "surrogateescape")
        out.append(Case(f"refused: {name}", refused(raw[:599]), query="action=tail&src=" + pct(raw),
                        local=local))
    out += [
        Case("refused: NUL before the path", refused(b"file:"),
             query="action=tail&src=file:%00" + pct(path.encode()), local=local),
        Case("refused: search with a traversal", refused((good + sep + "..").encode()),
             query="action=search&q=a&src=" + pct((good + sep + "..").encode()), local=local),
        Case("refused: plain encoding of an escape", refused(b"file:../../etc/passwd"),
             query="action=tail&src=file:..%2F..%2Fetc%2Fpasswd", local=local),
    ]

    # Nothing but the fixed event query ever reaches the command interpreter.
    bin_dir = tmp / "bin"
    bin_dir.mkdir()
    marker = tmp / "ran"
    for cmd in ("calc", "id"):
        script = bin_dir / cmd
        script.write_text(f"#!/bin/sh\necho {cmd} >> {marker}\n")
        script.chmod(0o755)
    env = {"PATH": f"{bin_dir}:/usr/bin:/bin"}
    for src in ("event:System & calc", "event:System;id", "event:System|calc", "event:System\ncalc"):
        out.append(Case(f"nothing runs for {src!r}", lacks_marker(marker, refused(src.encode())),
                        query="action=tail&src=" + pct(src.encode()), local=local, env=env,
                        targets=("linux",)))

    # Oversized parameters. One environment string holds at most 128 KiB on Linux and 32 Ki
    # characters on Windows, so these are the largest a web server could hand over.
    big = 120000 if t.kind == "linux" else 30000
    out += [
        Case("huge query string of repeated segments", refused(b""),
             query=("x=" + "y" * 10 + "&") * (big // 13) + "action=tail", local=local),
        Case("huge src value", refused(b"A" * 31), query="action=tail&src=" + "A" * big, local=local),
        Case("huge q value on a good source", tail_ok(), query="action=search&src=" + pct(good.encode()) +
             "&q=" + "%41" * (big // 3), local=local),
        Case("huge lines value", tail_ok(), query="action=tail&src=" + pct(good.encode()) + "&lines=" +
             "9" * big, local=local),
        Case("long pwd with the gate on and a long query", lambda o: None if b"invalid node password" in o
             else "not refused", query="action=tail&pwd=" + "p" * 10000 + "&src=" + "s" * 10000,
             env={"ZUN_PASSWORD": "secret"}, local=local),
    ]

    # Log files with hostile contents.
    hostile = tmp / "hostile"
    hroot = Path(t.root(str(hostile)))
    hroot.mkdir(parents=True)
    (hroot / "zeros.log").write_bytes(b"before\0after\n\0\0\0\nline three\n")
    (hroot / "utf8.log").write_bytes(b"bad \xff\xfe\xc0\x80 \xed\xa0\x80 end\ncut \xe2\x82\n")
    (hroot / "ansi.log").write_bytes(b"\x1b[31mred\x1b[0m \x1b]0;title\x07 \x08\x7f done\n")
    (hroot / "x.log").mkdir()
    big_line = hroot / "big.log"

    def make_big():
        if not big_line.exists():
            with open(big_line, "wb") as f:
                chunk = b"z" * (1 << 20)
                for _ in range(50):
                    f.write(chunk)
                f.write(b" tail of the one line\n")

    def no_ansi(entries):
        text = "".join(e["text"] for e in entries)
        return None if "\x1b" in text and "red" in text else f"escape codes lost: {entries!r}"

    def one_cut_line(entries):
        if len(entries) != 1 or len(entries[0]["text"].encode()) > 1023:
            return f"expected one cut entry, got {len(entries)}"
        return None

    def lists_files(names, absent):
        def expect(o):
            d, err = parse_doc(o)
            if err:
                return err
            ids = [s["id"] for s in d["sources"]]
            for n in names:
                if not any(i.endswith(sep + n) for i in ids):
                    return f"{n} not listed in {ids}"
            for n in absent:
                if any(i.endswith(sep + n) for i in ids):
                    return f"{n} listed in {ids}"
            return None
        return expect

    def fid(name):
        return pct(t.file_id(str(hroot / name)).encode())

    out += [
        Case("NUL bytes in a log", tail_ok(), query="action=tail&src=" + fid("zeros.log"), local=str(hostile)),
        Case("invalid UTF-8 in a log", tail_ok(), query="action=tail&src=" + fid("utf8.log"),
             local=str(hostile)),
        Case("invalid UTF-8 searched", tail_ok(), query="action=search&q=%FF&src=" + fid("utf8.log"),
             local=str(hostile)),
        Case("ANSI escapes are escaped, not dropped", tail_ok(no_ansi),
             query="action=tail&src=" + fid("ansi.log"), local=str(hostile)),
        Case("a single line of 50 MiB", tail_ok(one_cut_line), query="action=tail&src=" + fid("big.log"),
             local=str(hostile), setup=make_big, timeout=120),
        Case("a folder named x.log is no source", refused(t.file_id(str(hroot / "x.log")).encode()),
             query="action=tail&src=" + fid("x.log"), local=str(hostile)),
        Case("hostile tree lists its files", lists_files(["zeros.log", "utf8.log", "ansi.log"], ["x.log"]),
             query="action=sources", local=str(hostile)),
    ]

    # Files named like Windows devices: opening one must not read a console or a port.
    devices = tmp / "devices"
    droot = Path(t.root(str(devices)))
    droot.mkdir(parents=True)
    for name in ("con", "aux", "nul", "com1", "lpt1", "prn", "conin$"):
        (droot / f"{name}.log").write_bytes(b"2024-01-02T03:04:05Z device-named\n")
        out.append(Case(f"a file named {name}.log answers without blocking", complete_doc,
                        query="action=tail&src=" + pct(t.file_id(str(droot / f"{name}.log")).encode()),
                        local=str(devices), timeout=20))

    # Link loops in the tree (Linux: Wine's view of links differs).
    loops = tmp / "loops"
    lroot = Path(t.root(str(loops)))
    (lroot / "a").mkdir(parents=True)
    (lroot / "a" / "deep.log").write_bytes(b"deep\n")
    (lroot / "top.log").write_bytes(b"top\n")
    os.symlink(str(lroot), lroot / "a" / "back")
    os.symlink(str(lroot / "a" / "self"), lroot / "a" / "self")
    os.symlink("loop2", lroot / "loop1")
    os.symlink("loop1", lroot / "loop2")
    os.symlink("loopfile.log", lroot / "loopfile.log.tmp")
    os.symlink("dangling-target", lroot / "dangling.log")
    out += [
        Case("link loops end and the tree is listed", lists_files(["top.log", "deep.log"], ["dangling.log"]),
             query="action=sources", local=str(loops), targets=("linux",), timeout=30),
        Case("a dangling link is no source", refused(("file:" + str(lroot / "dangling.log")).encode()),
             query="action=tail&src=" + pct(("file:" + str(lroot / "dangling.log")).encode()),
             local=str(loops), targets=("linux",)),
    ]
    return out
