"""Whole-file search (scope=file): newest hits first, pages older through before, the budget."""
import json
import os
import urllib.parse

from run import Case, LogFolder, doc, echo, entry, json_str, write

GIB = 1 << 30


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)

    folder = LogFolder(t, root)
    fid = folder.fid

    def query(name, q, extra=""):
        return f"action=search&src={folder.src(name)}&q={q}&scope=file{extra}"

    def search_doc(name, q, scanned, hits, searched, next_before, truncated=False):
        return folder.search_doc(name, q, scanned, hits, truncated,
                                 b',"scope":"file","searched_bytes":%d,"next_before":%d' % (searched, next_before))

    out = []

    def add(name, q, expect, **kw):
        out.append(Case(name, expect, local=local, **kw, query=q))

    # A small log read whole: every hit, in file order, and where the scan ended.
    small = (b"2024-01-15 10:30:00,123 [4] ERROR App.Orders - order 7 failed\r\n"
             b"System.InvalidOperationException: no stock\r\n"
             b"   at App.Orders.Place() in C:\\src\\Orders.cs:line 42\r\n"
             b"2024-01-15 10:30:05,000 [4] INFO  App.Orders - order 8 placed\r\n"
             b"2024-01-15 10:30:09,000 [4] WARN  App.Orders - stock low for order 9\r\n")
    write(os.path.join(root, "small.log"), small)
    add("hits of the whole file in file order, the scan at the start",
        query("small.log", "order"),
        search_doc("small.log", "order", 5, [
            entry("[4] ERROR App.Orders - order 7 failed", "2024-01-15 10:30:00,123", "App.Orders", sev="err"),
            entry("   at App.Orders.Place() in C:\\src\\Orders.cs:line 42", sev="info"),
            entry("[4] INFO  App.Orders - order 8 placed", "2024-01-15 10:30:05,000", "App.Orders"),
            entry("[4] WARN  App.Orders - stock low for order 9", "2024-01-15 10:30:09,000", "App.Orders", sev="warn"),
        ], len(small), -1))
    add("with multiline=1 a hit is its whole entry, once",
        query("small.log", "stock", "&multiline=1"),
        search_doc("small.log", "stock", 5, [
            entry("[4] ERROR App.Orders - order 7 failed\nSystem.InvalidOperationException: no stock\n"
                  "   at App.Orders.Place() in C:\\src\\Orders.cs:line 42", "2024-01-15 10:30:00,123", "App.Orders",
                  sev="err"),
            entry("[4] WARN  App.Orders - stock low for order 9", "2024-01-15 10:30:09,000", "App.Orders", sev="warn"),
        ], len(small), -1))
    first_line_end = small.index(b"\n") + 1
    add("before an offset: only older lines",
        query("small.log", "order", f"&before={first_line_end}"),
        search_doc("small.log", "order", 1, [
            entry("[4] ERROR App.Orders - order 7 failed", "2024-01-15 10:30:00,123", "App.Orders", sev="err"),
        ], first_line_end, -1))
    add("before the file's size is its end", query("small.log", "placed", f"&before={len(small)}"),
        search_doc("small.log", "placed", 5, [
            entry("[4] INFO  App.Orders - order 8 placed", "2024-01-15 10:30:05,000", "App.Orders")], len(small), -1))

    def refused(value):
        return doc(b'{"ok":false,"error":"invalid_before","message":"before must be a byte offset within the '
                   b'file","before":' + json_str(echo(value.encode())) + b'}')
    for value in ("abc", "-1", "", "1e3", str(len(small) + 1), "99999999999999999999", "12 ", "0x10"):
        add(f"before {value!r} is refused", query("small.log", "order", "&before=" + urllib.parse.quote(value)),
            refused(value))
    add("an event log ignores scope and before",
        "action=search&src=event:System&q=x&scope=file&before=abc",
        lambda got: None if b'"scope"' not in got and b'"invalid_before"' not in got else "scope applied to an event log")

    # 600 hits: the newest 500 first, then the older 100 from next_before.
    lines = [b"2024-01-15 11:%02d:%02d,000 INFO tick %03d\n" % (i // 60, i % 60, i) for i in range(600)]
    many = b"".join(lines)
    write(os.path.join(root, "many.log"), many)
    cut = sum(len(x) for x in lines[:100])

    def tick(i):
        return entry("INFO tick %03d" % i, "2024-01-15 11:%02d:%02d,000" % (i // 60, i % 60))
    add("500 newest hits, truncated, next_before at the oldest",
        query("many.log", "tick"),
        search_doc("many.log", "tick", 500, [tick(i) for i in range(100, 600)], len(many) - cut, cut,
                   truncated=True))
    add("the next page from next_before reaches the start",
        query("many.log", "tick", f"&before={cut}"),
        search_doc("many.log", "tick", 100, [tick(i) for i in range(100)], cut, -1))

    # A log past the budget: hits at its start, a gigabyte of sparse space without a line
    # feed, hits at its end. The first answer stops on the budget inside the long stretch;
    # going on from next_before finds the old hits.
    big = os.path.join(root, "big.log")
    old = b"2024-01-01 00:00:00,000 ERROR needle in the oldest part\n"
    new = b"".join(b"2024-03-01 00:00:%02d,000 INFO needle %d at the end\n" % (i, i) for i in range(3))
    hole = GIB + (64 << 20)
    with open(big, "wb") as f:
        f.write(old)
        f.seek(len(old) + hole)
        f.write(b"\n" + new)
    size = len(old) + hole + 1 + len(new)

    def budget_stop(got):
        body = json.loads(got.split(b"\r\n\r\n", 1)[1])
        if [h["text"] for h in body["hits"]] != [f"INFO needle {i} at the end" for i in range(3)]:
            return f"first page hits: {body['hits']}"
        if body["truncated"] or not GIB <= body["searched_bytes"] < size or not 0 < body["next_before"] < size:
            return f"first page: searched {body['searched_bytes']}, next_before {body['next_before']}"
        if body["searched_bytes"] != size - body["next_before"]:
            return "searched_bytes is not the span from next_before to the end"
        res = t.run(Case("older", query=query("big.log", "needle", f"&before={body['next_before']}"),
                         local=local, timeout=120))
        older = json.loads(res.stdout.split(b"\r\n\r\n", 1)[1])
        if [h["text"] for h in older["hits"]] != ["ERROR needle in the oldest part"] or older["next_before"] != -1:
            return f"second page: {older}"
        if older["searched_bytes"] != body["next_before"]:
            return "the second page did not search what the first left"
        return None
    add("a scan past the budget stops, and goes on from next_before", query("big.log", "needle"),
        budget_stop, timeout=120)
    return out
