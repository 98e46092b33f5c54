"""action=download: a log file's bytes as on disk, whole, as an attachment.

Bodies are read as they stream (Case.stream): they need not be UTF-8, one is larger than
4 GiB, and two change under the program while it sends them. A log that grows or shrinks is
changed once the header block has arrived: by then the program has opened it and taken its
size, and it cannot have read much further, since a full pipe holds it back (the body is far
larger than the pipe, the output buffer and one block together).
"""
import os
from urllib.parse import quote

from run import Case, doc, json_str

SAFE = "!#$&+-.^_`|~"  # RFC 5987 attr-chars besides letters and digits


def disposition(label):
    """The Content-Disposition value for a label: an ASCII quoted name, each quote, backslash,
    control character and character beyond ASCII one "_", then the exact name encoded."""
    plain = "".join("_" if ord(c) < 0x20 or ord(c) >= 0x7F or c in '"\\' else c for c in label)
    return (f'attachment; filename="{plain}"; filename*=UTF-8\'\'' +
            quote(label.encode("utf-8", "surrogateescape"), safe=SAFE)).encode()


def header(label, size):
    return (b"Content-Type: application/octet-stream\r\n"
            b"Content-Disposition: " + disposition(label) + b"\r\n"
            b"Content-Length: %d\r\n"
            b"X-Content-Type-Options: nosniff\r\n"
            b"Cache-Control: no-store\r\n\r\n" % size)


def read_header(out):
    """Reads up to the end of the header block; returns (header, the body bytes read with it)."""
    got = b""
    while b"\r\n\r\n" not in got:
        piece = out.read1(65536)
        if not piece:
            break
        got += piece
    head, _, rest = got.partition(b"\r\n\r\n")
    return head + b"\r\n\r\n", rest


def whole(want_header, want_body, change=None):
    """A stream check: the header block, then (after change(), if given) exactly want_body."""
    def check(out):
        head, body = read_header(out)
        if head != want_header:
            return f"header {head!r}, expected {want_header!r}"
        if change is not None:
            change()
        body += out.read()
        if body != want_body:
            i = next((k for k in range(min(len(body), len(want_body))) if body[k] != want_body[k]),
                     min(len(body), len(want_body)))
            return (f"body differs at byte {i} (expected {len(want_body)} bytes, got {len(body)}): "
                    f"{body[max(0, i - 20):i + 40]!r}")
        return None
    return check


def sparse_check(want_header, size, marks):
    """A stream check for a sparse file: zeros but for marks {offset: bytes}, compared block by
    block as it arrives, never held whole."""
    def check(out):
        head, first = read_header(out)
        if head != want_header:
            return f"header {head!r}, expected {want_header!r}"
        pos = 0
        pending = first
        zeros = bytes(1 << 20)
        while True:
            block = pending or out.read(1 << 20)
            pending = b""
            if not block:
                break
            want = bytearray(zeros[:len(block)])
            for at, data in marks.items():
                lo, hi = max(at, pos), min(at + len(data), pos + len(block))
                if lo < hi:
                    want[lo - pos:hi - pos] = data[lo - at:hi - at]
            if block != want:
                i = next(k for k in range(len(block)) if block[k] != want[k])
                return f"byte {pos + i} is {block[i]:#x}, expected {want[i]:#x}"
            pos += len(block)
        if pos != size:
            return f"{pos} body bytes, expected {size}"
        return None
    return check


# Lines as real programs write them: Python's logging default format, log4j's PatternLayout,
# Windows CBS.log (CR LF), a Windows program's ANSI text (cp1252) and a NUL-padded tail, as a
# log cut by a crash leaves it.
MIXED = (b"2024-05-01 12:00:00,123 - app - ERROR - disk full on /var\n"
         b"2024-05-01T12:00:01,456 [main] WARN  com.example.App - slow query 1200 ms\n"
         b"2024-05-01 12:00:02, Info                  CBS    Starting TrustedInstaller initialization.\r\n"
         b"2024-05-01 12:00:03 Gr\xfc\xdfe aus M\xfcnchen\r\n"
         b"\x00\x00\x00\x00")
# Windows PowerShell's Out-File writes UTF-16LE with a byte-order mark.
UTF16 = "\ufeff2024-05-01 12:00:04 Überwachung gestartet\r\n".encode("utf-16-le")


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)
    out = []

    def put(name, data):
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
        return name

    def query(name, extra=""):
        return "action=download&src=" + quote(t.file_id(os.path.join(root, name)), safe="") + extra

    def sent(what, name, data, **kw):
        label = name[name.rfind("\\") + 1:]  # the catalogue's label: after the last separator
        return Case(what, stream=whole(header(label, len(data)), data), query=query(name), local=local, **kw)

    # --- Bytes as they are on disk ------------------------------------------------------
    out += [
        sent("a log leaves whole, its bytes unchanged", put("mixed.log", MIXED), MIXED),
        sent("UTF-16 with its byte-order mark is sent as it is", put("ps.log", UTF16), UTF16),
        sent("an empty log: Content-Length 0 and no body", put("empty.log", b""), b""),
        sent("a log of several blocks", put("blocks.log", b"x" * 200003 + b"\n"), b"x" * 200003 + b"\n"),
    ]

    # --- Labels in the Content-Disposition header ----------------------------------------
    names = ["журнал.log", "日志 2024.log", "🔥hot.log", "a b;c%d'e(f)=g.log", "x!#$&+-.^_`~.log"]
    if t.kind == "linux":
        # Windows allows none of these in a name.
        names += ['we"ird.log', "back\\slash.log", "tab\there.log", "bell\x01\x7f.log", "pipe|.log"]
    for name in names:
        body = ("2024-05-01 12:00:00 " + name + "\n").encode("utf-8")
        out.append(sent(f"label {name!r}: ASCII quoted name, exact encoded one", put(name, body), body))

    # --- Refusals: JSON documents like every other action's --------------------------------
    refusal = (b'{"ok":false,"error":"source_not_allowed","message":"that path is not in this '
               b'plugin\'s read allowlist; call action=sources for the current list","requested":')
    outside = os.path.join(local, "outside.log")
    with open(outside, "wb") as f:
        f.write(b"not listed\n")
    out += [
        Case("an id not in the catalogue is refused",
             doc(refusal + json_str(t.file_id(outside).encode()[:31]) + b"}"),
             query="action=download&src=" + quote(t.file_id(outside), safe=""), local=local),
        Case("download without src is refused", doc(refusal + b'""}'), query="action=download", local=local),
    ]
    for log in ("System", "Application"):
        out.append(Case(f"event:{log} is not a file",
                        doc('{"ok":false,"error":"unsupported_source","message":"download reads log files '
                            f'only","src":"event:{log}"}}'),
                        query=f"action=download&src=event:{log}", local=local))

    # --- The gate applies as to every action ----------------------------------------------
    secret = b"2024-05-01 12:00:00 behind the password\n"
    gated = put("gated.log", secret)
    password = "Zugang 🔑 пароль"
    out += [
        Case("the gate: no password, no bytes",
             b"Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n"
             b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n"
             b'{"ok":false,"error":"invalid node password"}\n',
             query=query(gated), local=local, env={"ZUN_PASSWORD": password}),
        Case("the gate: the right password in pwd gives the bytes",
             stream=whole(header(gated, len(secret)), secret),
             query=query(gated, "&pwd=" + quote(password, safe="")), local=local,
             env={"ZUN_PASSWORD": password}),
    ]

    # --- A log that changes while it is sent ----------------------------------------------
    line = b"2024-05-01 12:00:00,000 - app - INFO - request served in 3 ms\n"
    original = line * (8 * 1024 * 1024 // len(line))
    grow = put("grow.log", original)
    shrink = put("shrink.log", original)
    kept = 2 * 1024 * 1024

    def append():
        with open(os.path.join(root, grow), "ab") as f:
            f.write(line * 20000)

    def cut():
        os.truncate(os.path.join(root, shrink), kept)

    out += [
        Case("a log that grows while it is sent stops at its size at opening",
             stream=whole(header(grow, len(original)), original, change=append),
             query=query(grow), local=local, setup=lambda: put(grow, original), timeout=120),
        # The body falls short of Content-Length: the honest outcome once the headers are out.
        Case("a log that shrinks while it is sent ends early, without hanging",
             stream=whole(header(shrink, len(original)), original[:kept], change=cut),
             query=query(shrink), local=local, setup=lambda: put(shrink, original), timeout=120),
    ]

    # --- Over 4 GiB: 64-bit sizes and offsets ------------------------------------------------
    huge = os.path.join(root, "huge.log")
    size = (4 << 30) + 4096 + 7
    marks = {0: b"first line\n", (4 << 30) - 5: b"across 4 GiB\n", size - 10: b"last line\n"}

    def make_huge():
        with open(huge, "wb") as f:
            f.truncate(size)  # sparse: no disk
            for at, data in marks.items():
                f.seek(at)
                f.write(data)

    def check_and_remove(stream):
        try:
            return sparse_check(header("huge.log", size), size, marks)(stream)
        finally:
            os.remove(huge)

    out.append(Case("a sparse log over 4 GiB: full Content-Length, the bytes across 4 GiB and at the end",
                    stream=check_and_remove, query=query("huge.log"),
                    local=local, setup=make_huge, timeout=900))
    return out

