"""Following a log file with the tail's cursor: appends, idle ticks, lines still being written,
rotation, truncation, replacement, forged cursors and multiline entries that grow.

The cursor is opaque: each step's expected document is exact except for the cursor's 40
characters, which must be base64url; a step can require the cursor it was given back, and the
next step sends the cursor the last answer gave."""
import base64
import os
import re
import struct
import urllib.parse

import cases_event as ev
from run import Case, describe_difference, doc, json_str

CURSOR_RE = re.compile(rb'"cursor":"([A-Za-z0-9_-]*)"')


def entry(text, ts="", unit="", sev="info"):
    return (b'{"ts":' + json_str(ts) + b',"unit":' + json_str(unit) + b',"sev":' + json_str(sev) +
            b',"text":' + json_str(text) + b'}')


def iso(text, ts="2024-01-15T10:30:00Z", sev="info"):
    """An entry of a line that a bare ISO timestamp begins."""
    return entry(text, ts, sev=sev)


def stamped(n, text):
    return b"2024-01-15T10:30:%02dZ %s\n" % (n, text.encode())


# A Java program's log through logback's default pattern, with a stack trace under an entry.
LOGBACK_ERROR = b"2024-01-15 10:30:01.123 ERROR [main] com.example.App - Request failed\n"
LOGBACK_CAUSE = b"java.lang.IllegalStateException: pool exhausted\n"
LOGBACK_AT1 = b"\tat com.example.Pool.take(Pool.java:42)\n"
LOGBACK_AT2 = b"\tat com.example.App.run(App.java:17)\n"
LOGBACK_NEXT = b"2024-01-15 10:30:02.007 INFO  [main] com.example.App - Retrying\n"


def logback(text, ts="2024-01-15 10:30:01.123", sev="err"):
    return entry(text, ts, "com.example.App", sev)


def parse_cursor(text: str):
    """The fields of a cursor (all zero when a step before failed to get one)."""
    try:
        return list(struct.unpack(">BBQQqI", base64.urlsafe_b64decode(text)))
    except (ValueError, struct.error):
        return [0] * 6


def make_cursor(fields) -> str:
    return base64.urlsafe_b64encode(struct.pack(">BBQQqI", *fields)).decode()


def fnv1a(data: bytes) -> int:
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


class Follower:
    """The cursor a page holds between ticks."""

    def __init__(self):
        self.cursor = ""


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)

    def path(name):
        return os.path.join(root, name)

    def fid(name):
        return t.file_id(path(name))

    def write(name, data, mode="wb"):
        with open(path(name), mode) as f:
            f.write(data)

    def head(name, requested):
        return (b'{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":' + json_str(fid(name)) +
                b',"label":' + json_str(name) + b',"kind":"file","requested":%d' % requested)

    def plain_doc(name, requested, entries):
        return doc(head(name, requested) + b',"count":%d,"entries":[' % len(entries) + b",".join(entries) +
                   b"]}")

    def step(name, file, follower, entries, reset, change=None, continues=False, same=False, extra="",
             lines=200, small=False, keep=True, after=None):
        """One tick of follower on file: change runs first; the answer must hold exactly entries,
        reset and continues, and (same) hand back the cursor it was given."""
        case = Case(name, None, local=local)
        sent = {}

        def setup():
            if change is not None:
                change()
            sent["after"] = follower.cursor if after is None else after()
            case.query = (f"action=tail&src={urllib.parse.quote(fid(file), safe='')}&lines={lines}"
                          f"&after={urllib.parse.quote(sent['after'], safe='')}{extra}")

        def check(out):
            m = CURSOR_RE.search(out)
            if m is None:
                return f"no cursor in {out[:300]!r}"
            got = m.group(1).decode()
            if len(got) != 40:
                return f"cursor {got!r} is not 40 base64url characters"
            want = doc(head(file, lines) + b',"count":%d,"cursor":"%s","reset":%s%s,"entries":[' %
                       (len(entries), got.encode(), b"true" if reset else b"false",
                        b',"continues":true' if continues else b"") + b",".join(entries) + b"]}")
            if out != want:
                return describe_difference(want, out)
            if same and got != sent["after"]:
                return f"idle tick moved the cursor from {sent['after']!r} to {got!r}"
            body = out.partition(b"\r\n\r\n")[2]
            if small and len(body) > 300:
                return f"idle answer of {len(body)} bytes, more than 300"
            if keep:
                follower.cursor = got
            return None

        case.setup = setup
        case.expect = check
        return case

    cs = []

    # Appends, idle ticks and a line still being written.
    f = Follower()
    write("app.log", stamped(0, "one") + stamped(1, "two"))
    cs += [
        step("the first tail with an empty cursor is a full tail, reset", "app.log", f,
             [iso("one"), iso("two", "2024-01-15T10:30:01Z")], True),
        step("an idle tick: no entries, reset false, the same cursor, a small body", "app.log", f, [], False,
             same=True, small=True),
        step("appended lines are all the next tick gets", "app.log", f,
             [iso("three", "2024-01-15T10:30:02Z"), iso("vier \u00fcber caf\u00e9", "2024-01-15T10:30:03Z")],
             False, change=lambda: write("app.log", stamped(2, "three") + stamped(3, "vier \u00fcber caf\u00e9"),
                                         "ab")),
        step("more new lines than asked for: the newest", "app.log", f,
             [iso("six", "2024-01-15T10:30:06Z"), iso("seven", "2024-01-15T10:30:07Z")], False, lines=2,
             change=lambda: write("app.log", stamped(5, "five") + stamped(6, "six") + stamped(7, "seven"), "ab")),
        step("a line without its line feed yet is not sent", "app.log", f, [], False, lines=2, same=True,
             change=lambda: write("app.log", b"2024-01-15T10:30:08Z half of a li", "ab")),
        step("... and is sent whole once it ends", "app.log", f,
             [iso("half of a line, now whole", "2024-01-15T10:30:08Z")], False, lines=2,
             change=lambda: write("app.log", b"ne, now whole\n", "ab")),
    ]

    # A rotation: the log renamed and a new one made in its place.
    def rotate():
        os.replace(path("app.log"), path("app.log.1"))
        write("app.log", stamped(9, "after rotation"))

    cs += [
        step("rotation (rename, new file): a full tail of the new file, reset", "app.log", f,
             [iso("after rotation", "2024-01-15T10:30:09Z")], True, lines=2, change=rotate),
        step("the new file's cursor follows it", "app.log", f,
             [iso("next", "2024-01-15T10:30:10Z")], False, lines=2,
             change=lambda: write("app.log", stamped(10, "next"), "ab")),
    ]

    # Truncation, in place: the same file, shorter than the cursor's offset.
    def truncate():
        with open(path("app.log"), "r+b") as fh:
            fh.truncate(0)
        write("app.log", stamped(11, "short"), "ab")

    # The same size again, other bytes: the cursor's proof of what it read no longer holds.
    def rewrite_same_size():
        with open(path("app.log"), "r+b") as fh:
            fh.write(stamped(12, "SHORT"))

    # Another file of exactly the same size renamed over the log.
    def replace_same_size():
        size = os.path.getsize(path("app.log"))
        body = stamped(13, "other")
        assert len(body) == size
        write("other.tmp", body)
        os.replace(path("other.tmp"), path("app.log"))

    cs += [
        step("truncation: a full tail, reset", "app.log", f, [iso("short", "2024-01-15T10:30:11Z")], True,
             lines=2, change=truncate),
        step("rewritten in place to the same size: a full tail, reset", "app.log", f,
             [iso("SHORT", "2024-01-15T10:30:12Z")], True, lines=2, change=rewrite_same_size),
        step("replaced by another file of the same size: a full tail, reset", "app.log", f,
             [iso("other", "2024-01-15T10:30:13Z")], True, lines=2, change=replace_same_size),
        step("... whose cursor then follows it", "app.log", f, [], False, lines=2, same=True, small=True),
    ]

    # Cursors this program did not make for this file as it is.
    write("forged.log", stamped(0, "alpha") + stamped(1, "beta"))
    write("elsewhere.log", stamped(0, "elsewhere"))
    full = [iso("alpha"), iso("beta", "2024-01-15T10:30:01Z")]
    real = Follower()
    other = Follower()
    cs += [
        step("a cursor of forged.log", "forged.log", real, full, True),
        step("a cursor of elsewhere.log", "elsewhere.log", other, [iso("elsewhere")], True),
    ]

    def forged(change):
        """The real cursor of forged.log with its fields changed."""
        def make():
            fields = parse_cursor(real.cursor)
            change(fields)
            return make_cursor(fields)
        return make

    def at(offset, proof_of):
        def change(fields):
            fields[4] = offset
            fields[5] = fnv1a(proof_of)
        return change

    size = len(stamped(0, "alpha") + stamped(1, "beta"))
    line0 = stamped(0, "alpha")
    bad = [
        ("random text", lambda: "hello"),
        ("random base64url of a cursor's length", lambda: "Zm9yZ2VkIGN1cnNvciBmb3IgYSBsb2cgZmlsZSEh"),
        ("a cursor of another file", lambda: other.cursor),
        ("5000 characters", lambda: "A" * 5000),
        ("40 characters, not all base64url", lambda: "%%%FF" + "A" * 35),
        ("an offset past the end", forged(at(size + 1, b"\n"))),
        ("an offset far past the end", forged(at(2 ** 62, b""))),
        ("an offset inside a line with its right proof", forged(at(10, line0[:10]))),
        ("the right offset with a wrong proof", forged(at(len(line0), b"nonsense"))),
        ("another version", forged(lambda fields: fields.__setitem__(0, 2))),
        ("a flag that does not exist", forged(lambda fields: fields.__setitem__(1, 8))),
        ("a cursor made with multiline, used without", forged(lambda fields: fields.__setitem__(1, 1))),
    ]
    for what, after in bad:
        cs.append(step(f"forged or foreign cursor ({what}): a full tail, reset", "forged.log", Follower(), full,
                       True, after=after, keep=False))
    cs.append(step("the same fields made right are a cursor", "forged.log", Follower(),
                   [iso("beta", "2024-01-15T10:30:01Z")], False,
                   after=forged(at(len(line0), line0[-32:]))))

    # Multiline: the last entry is sent again, flagged, while its stack trace grows.
    m = Follower()
    write("stack.log", LOGBACK_NEXT + LOGBACK_ERROR)
    retry = logback("INFO  [main] com.example.App - Retrying", "2024-01-15 10:30:02.007", "info")
    failed = "ERROR [main] com.example.App - Request failed"
    ml = "&multiline=1"
    cs += [
        step("multiline: the first tail, reset", "stack.log", m, [retry, logback(failed)], True, extra=ml),
        step("multiline idle tick: the last entry again, continues", "stack.log", m, [logback(failed)], False,
             continues=True, same=True, extra=ml),
        step("multiline: continuation lines arrive, the last entry grows", "stack.log", m,
             [logback(failed + "\njava.lang.IllegalStateException: pool exhausted")], False, continues=True,
             extra=ml, change=lambda: write("stack.log", LOGBACK_CAUSE, "ab")),
        step("multiline: a continuation line still being written is not read", "stack.log", m,
             [logback(failed + "\njava.lang.IllegalStateException: pool exhausted")], False, continues=True,
             same=True, extra=ml, change=lambda: write("stack.log", LOGBACK_AT1[:12], "ab")),
        step("multiline: the rest of the trace and a new entry", "stack.log", m,
             [logback(failed + "\njava.lang.IllegalStateException: pool exhausted"
                      "\n\tat com.example.Pool.take(Pool.java:42)\n\tat com.example.App.run(App.java:17)"),
              logback("INFO  [main] com.example.App - Retrying", "2024-01-15 10:30:02.007", "info")],
             False, continues=True, extra=ml,
             change=lambda: write("stack.log", LOGBACK_AT1[12:] + LOGBACK_AT2 + LOGBACK_NEXT, "ab")),
        step("multiline: a cursor made without multiline is refused", "stack.log", Follower(),
             [retry, logback(failed + "\njava.lang.IllegalStateException: pool exhausted"
                             "\n\tat com.example.Pool.take(Pool.java:42)\n\tat com.example.App.run(App.java:17)"),
              retry], True, extra=ml, after=lambda: make_cursor(parse_cursor(m.cursor)[:1] + [0] +
                                                                 parse_cursor(m.cursor)[2:]), keep=False),
    ]

    # Where a cursor does not apply.
    def no_cursor_keys(out):
        if b'"cursor"' in out or b'"reset"' in out or b'"continues"' in out:
            return f"cursor keys in {out[:300]!r}"
        return None

    q = urllib.parse.quote(fid("forged.log"), safe="")
    cs += [
        Case("without after the document is as before", plain_doc("forged.log", 200, full),
             query=f"action=tail&src={q}", local=local),
        Case("a last line without a line feed is sent when not following",
             plain_doc("nofeed.log", 200, [iso("done"), entry("still being writ")]),
             query=f"action=tail&src={urllib.parse.quote(fid('nofeed.log'), safe='')}", local=local,
             setup=lambda: write("nofeed.log", stamped(0, "done") + b"still being writ")),
        Case("a search ignores after", no_cursor_keys,
             query=f"action=search&src={q}&q=alpha&after=", local=local),
        Case("a tail of a time range ignores after", no_cursor_keys,
             query=f"action=tail&src={q}&after=&since=2024-01-15T10:30", local=local),
    ]

    # An event source ignores after: the ordinary tail document.
    if t.kind == "wine":
        ev.install_system_fake(t)
    fake = ev.Fake(t, tmp, "event", ev.EXAMPLE)
    cs.append(Case("an event source ignores after", ev.expect_run(fake, ev.tail_doc("System", 200, ev.EXAMPLE_ENTRIES),
                                                                ev.args_line("System", 200)),
                   query="action=tail&src=event:System&after=", env=fake.env(), stderr=b""))
    return cs
