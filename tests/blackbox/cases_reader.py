"""Tail and search of log files: windows, chunks, line endings, limits and unreadable logs."""
import json
import os
import threading
import time
import urllib.parse

from run import Case, LogFolder, doc, entry, json_str, write

MIB4 = 4194304


def filler(n):
    """n bytes of 100-byte lines, the last one shorter."""
    full, rest = divmod(n, 100)
    out = (b"f" * 99 + b"\n") * full
    if rest:
        out += b"g" * (rest - 1) + b"\n"
    return out


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)

    folder = LogFolder(t, root)
    fid, src, tail_doc, search_doc = folder.fid, folder.src, folder.tail_doc, folder.search_doc

    def not_allowed(name):
        return doc(b'{"ok":false,"error":"source_not_allowed","message":"that path is not in this '
                   b'plugin\'s read allowlist; call action=sources for the current list","requested":'
                   + json_str(fid(name).encode()[:31]) + b'}')

    def tail(name, extra=""):
        return f"action=tail&src={src(name)}{extra}"

    def search(name, q):
        return f"action=search&src={src(name)}&q={urllib.parse.quote(q, safe='')}"

    three = [b"Jan 05 10:00:00 myhost sshd[1234]: Accepted publickey for admin",
             b"2024-01-15T10:30:00.123Z ERROR something failed",
             b"   plain line with Timeout"]
    three_entries = [entry("Accepted publickey for admin", "Jan 05 10:00:00", "sshd[1234]"),
                     entry("ERROR something failed", "2024-01-15T10:30:00.123Z", sev="err"),
                     entry("   plain line with Timeout", sev="warn")]
    write(os.path.join(root, "three.log"), b"\n".join(three) + b"\n")

    five = [b"line %d" % i for i in range(1, 6)]
    write(os.path.join(root, "five.log"), b"\n".join(five) + b"\n")

    write(os.path.join(root, "long.log"), b"a" * 2047 + b"b" * 953 + b"\nafter\n")
    write(os.path.join(root, "crlf.log"), b"first\r\n\r\nMar 17 08:15:02 h cron[1]: done \r\n")
    write(os.path.join(root, "nofeed.log"), b"x\nlast without feed")
    write(os.path.join(root, "empty.log"), b"")
    write(os.path.join(root, "escapes.log"),
          b'say "hi" \\ path\tTAB \x01\x1f\x7f caf\xc3\xa9 warn\n')

    # Cut window: the first 6 bytes fall outside the last 4 MiB.
    big_head = b"12345 remainder of the cut line\n"
    big_tail = b"2024-02-01 00:00:00 next to last\n2024-02-01 00:00:01 the last line\n"
    write(os.path.join(root, "big.log"),
          big_head + filler(MIB4 + 6 - len(big_head) - len(big_tail)) + big_tail)
    # No line feed in the whole window: nothing to show.
    write(os.path.join(root, "nolf.log"), b"z" * (MIB4 + 100))

    write(os.path.join(root, "nine.log"), b"".join(b"match %d\n" % i for i in range(1, 9001)))
    write(os.path.join(root, "exact500.log"),
          b"".join((b"hit %d\n" if i % 2 else b"other %d\n") % i for i in range(1, 1001)))

    # Sparse files far past 4 GiB: only the real lines at the end are read, at once.
    sparse_end = b"\nJan 05 10:00:00 h app: end one\nJan 05 10:00:00 h app: end two\n"
    for name, size in (("sparse3g.log", 3 << 30), ("sparse4g.log", (4 << 30) + 1000)):
        with open(os.path.join(root, name), "wb") as f:
            f.truncate(size - len(sparse_end))
            f.seek(0, 2)
            f.write(sparse_end)

    # Not regular files: the catalogue must not offer them.
    os.mkfifo(os.path.join(root, "pipe.log"))
    os.symlink("/dev/zero", os.path.join(root, "zero.log"))

    nine_hits = [entry("match %d" % i) for i in range(1, 501)]
    clamp = [(v, 200) for v in ("0", "-5", "abc", "")] + [("5000", 2000), ("2000", 2000), ("1", 1)]
    cs = [
        Case("tail of fewer lines than asked", tail_doc("three.log", 10, three_entries),
             query=tail("three.log", "&lines=10"), local=local),
        Case("tail of more lines than asked keeps the newest, oldest first",
             tail_doc("five.log", 2, [entry("line 4"), entry("line 5")]),
             query=tail("five.log", "&lines=2"), local=local),
        Case("tail ignores q", tail_doc("five.log", 1, [entry("line 5")]),
             query=tail("five.log", "&lines=1&q=line+1"), local=local),
        Case("a line over 2047 bytes is two entries",
             tail_doc("long.log", 200, [entry("a" * 1023), entry("b" * 953), entry("after")]),
             query=tail("long.log"), local=local),
        Case("CR LF endings and an empty line",
             tail_doc("crlf.log", 200, [entry("first"), entry(""),
                                        entry("done", "Mar 17 08:15:02", "cron[1]")]),
             query=tail("crlf.log"), local=local),
        Case("a last line without a feed is an entry",
             tail_doc("nofeed.log", 200, [entry("x"), entry("last without feed")]),
             query=tail("nofeed.log"), local=local),
        Case("empty file gives an empty tail", tail_doc("empty.log", 200, []),
             query=tail("empty.log"), local=local),
        Case("empty file gives an empty search", search_doc("empty.log", "x", 0, []),
             query=search("empty.log", "x"), local=local),
        Case("quotes, backslashes and control bytes are escaped; DEL and UTF-8 pass",
             tail_doc("escapes.log", 200,
                      [entry(b'say "hi" \\ path\tTAB \x01\x1f\x7f caf\xc3\xa9 warn', sev="warn")]),
             query=tail("escapes.log"), local=local),
        Case("a file over 4 MiB is read from its last 4 MiB (tail)",
             tail_doc("big.log", 2, [entry("next to last", "2024-02-01 00:00:00"),
                                     entry("the last line", "2024-02-01 00:00:01")]),
             query=tail("big.log", "&lines=2"), local=local),
        Case("a file over 4 MiB: the cut line's rest is the first entry, search stops at 8000",
             search_doc("big.log", "REMAINDER", 8000, [entry("remainder of the cut line")]),
             query=search("big.log", "REMAINDER"), local=local),
        Case("a file over 4 MiB: lines past the scan limit are not searched",
             search_doc("big.log", "the last", 8000, []),
             query=search("big.log", "the last"), local=local),
        Case("a window without a line feed delivers nothing", tail_doc("nolf.log", 200, []),
             query=tail("nolf.log"), local=local),
        Case("9000 matching lines: 8000 scanned, the first 500 kept, truncated",
             search_doc("nine.log", "MATCH", 8000, nine_hits),
             query=search("nine.log", "MATCH"), local=local),
        Case("exactly 500 hits is truncated",
             search_doc("exact500.log", "hit", 1000, [entry("hit %d" % i) for i in range(1, 1000, 2)]),
             query=search("exact500.log", "hit"), local=local),
        Case("search matches unit and ts, not the host",
             search_doc("three.log", "sshd", 3, [three_entries[0]]),
             query=search("three.log", "sshd"), local=local),
        Case("search matches the ISO timestamp", search_doc("three.log", "2024-01-15", 3, [three_entries[1]]),
             query=search("three.log", "2024-01-15"), local=local),
        Case("search for the host name finds nothing", search_doc("three.log", "myhost", 3, []),
             query=search("three.log", "myhost"), local=local),
        Case("search ignores lines", search_doc("five.log", "line", 5, [entry(x.decode()) for x in five]),
             query=search("five.log", "line") + "&lines=1", local=local),
        Case("3 GiB sparse file: the last 4 MiB", tail_doc("sparse3g.log", 2, [
             entry("end one", "Jan 05 10:00:00", "app"), entry("end two", "Jan 05 10:00:00", "app")]),
             query=tail("sparse3g.log", "&lines=2"), local=local),
        Case("4 GiB + 1000 sparse file: the last 4 MiB", tail_doc("sparse4g.log", 2, [
             entry("end one", "Jan 05 10:00:00", "app"), entry("end two", "Jan 05 10:00:00", "app")]),
             query=tail("sparse4g.log", "&lines=2"), local=local),
        Case("search q absent is missing_query",
             doc('{"ok":false,"error":"missing_query","message":"action=search needs q=<text>"}'),
             query=f"action=search&src={src('five.log')}", local=local),
        Case("search q empty is missing_query",
             doc('{"ok":false,"error":"missing_query","message":"action=search needs q=<text>"}'),
             query=f"action=search&src={src('five.log')}&q=", local=local),
        # A FIFO would block an open and a device never ends: neither is offered as a log.
        Case("tail of a FIFO named like a log is refused", not_allowed("pipe.log"),
             query=tail("pipe.log"), local=local, timeout=20),
        Case("search of a FIFO named like a log is refused", not_allowed("pipe.log"),
             query=search("pipe.log", "x"), local=local, timeout=20),
        Case("tail of a device named like a log is refused", not_allowed("zero.log"),
             query=tail("zero.log"), local=local, timeout=20),
    ]
    for value, want in clamp:
        cs.append(Case(f"lines={value!r} asks for {want}",
                       tail_doc("five.log", want, [entry(x.decode()) for x in five[-want:]]),
                       query=tail("five.log", f"&lines={value}" if value else ""), local=local))
    cs += busy_log_cases(t, tmp, fid, src)
    return cs


def busy_log_cases(t, tmp, fid, src):
    """A writer that appends, truncates, renames and deletes the log while it is read."""
    local = str(tmp / "busy")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)
    path = os.path.join(root, "busy.log")
    busy_id = t.file_id(path)
    write(path, b"start\n")

    def churn():
        stop = time.monotonic() + 3
        n = 0
        while time.monotonic() < stop:
            n += 1
            try:
                with open(path, "ab") as f:
                    f.write(b"Jan 05 10:00:00 h w[1]: line %d error\n" % n * 2000)
                if n % 7 == 0:
                    os.truncate(path, 0)
                if n % 11 == 0:
                    os.rename(path, path + ".old")
                    os.unlink(path + ".old")
                    write(path, b"recreated\n")
                if n % 13 == 0:
                    os.unlink(path)
                    time.sleep(0.01)
                    write(path, b"again\n")
            except OSError:
                pass

    def start_writer():
        threading.Thread(target=churn, daemon=True).start()
        time.sleep(0.05)

    def complete(action):
        def check(out):
            head = doc(b"")[:-1]
            if not out.startswith(head) or not out.endswith(b"\n") or out.count(b"\n") != head.count(b"\n") + 1:
                return f"not one complete document: {out[:200]!r} ... {out[-200:]!r}"
            try:
                body = json.loads(out[len(head):].decode("utf-8"))
            except ValueError as e:
                return f"not JSON ({e}): {out[-200:]!r}"
            if body.get("ok"):
                if body.get("action") != action or body.get("src") != busy_id:
                    return f"wrong document: {out[len(head):len(head) + 200]!r}"
                return None
            if body.get("error") not in ("unreadable_source", "source_not_allowed"):
                return f"unexpected error: {body}"
            return None
        return check

    q = urllib.parse.quote(busy_id, safe="")
    return [
        Case(f"tail of a log rewritten while it is read #{i}", complete("tail"),
             query=f"action=tail&src={q}&lines=50", local=local, setup=start_writer)
        for i in range(3)
    ] + [
        Case(f"search of a log rewritten while it is read #{i}", complete("search"),
             query=f"action=search&src={q}&q=error", local=local, setup=start_writer)
        for i in range(3)
    ]
