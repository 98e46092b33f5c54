"""Tail and search of the two event logs, fed by a fake wevtutil first on the search path.

The fake records its arguments, prints a canned output and writes noise to its error
output, which the command line must discard. On Linux it is a shell script found through
PATH; under Wine a wevtutil.cmd in a folder named by WINEPATH, which cmd searches before
the system folders.
"""
import json
import os

from run import Case, describe_difference, doc, json_str

LABELS = {"System": "Windows System log", "Application": "Windows Application log"}
SEV = {0: "info", 1: "warn", 2: "err"}
NOT_RUN = "(not run)"

# The 16-line example: the middle record carries its text on the following line.
EXAMPLE = (b"Event[0]:\n"
           b"  Log Name: System\n"
           b"  Source: Example Source\n"
           b"  Date: 2024-01-15T10:30:00.1230000Z\n"
           b"  Level: Information\n"
           b"  Description: The print spooler service entered the running state.\n"
           b"\n"
           b"Event[1]:\n"
           b"  Date: 2024-01-15T09:00:00.0000000Z\n"
           b"  Level: Information\n"
           b"  Description:\n"
           b"Text on the following line\n"
           b"\n"
           b"Event[2]:\n"
           b"  Date: 2024-01-15T08:00:00.0000000Z\n"
           b"  Description: disk retry scheduled")
EXAMPLE_ENTRIES = [
    ("2024-01-15T10:30:00.1230000Z", "System", 0, "The print spooler service entered the running state."),
    ("2024-01-15T09:00:00.0000000Z", "System", 0, "Text on the following line"),
    ("2024-01-15T08:00:00.0000000Z", "", 1, "disk retry scheduled"),
]

# Shaped like a real query of the Application log: bare "Description:" lines, messages over
# several lines and paragraphs, a record without text.
APPLICATION = b"""Event[0]:
  Log Name: Application
  Source: Example Source
  Date: 2020-12-14T17:09:08.940
  Event ID: 100
  Task: None
  Level: Information
  Opcode: Info
  Keyword: Classic
  User: N/A
  User Name: N/A
  Computer: HOST-01
  Description:
Successfully scheduled the service for restart.

Event[1]:
  Log Name: Application
  Source: Backup
  Date: 2020-12-14T17:05:00.000
  Event ID: 7
  Level: Error
  Computer: HOST-01
  Description:
The backup job "nightly" stopped.
\tReason: disk full on E:\\
   Code: 0x70

Event[2]:
  Log Name: Application
  Source: Installer
  Date: 2020-12-14T17:00:00.000
  Level: Warning
  Description:
First paragraph of the message.

Second paragraph, part of the text too.
Its last line.

Event[3]:
  Log Name: Application
  Source: Silent
  Date: 2020-12-14T16:59:00.000
  Level: Information
  Description:

Event[4]:
  Log Name: Application
  Source: Database
  Date: 2020-12-14T16:00:00.000
  Level: Critical
  Description: Service "db" terminated unexpectedly.
"""
APPLICATION_ENTRIES = [
    ("2020-12-14T17:09:08.940", "Application", 0, "Successfully scheduled the service for restart."),
    ("2020-12-14T17:05:00.000", "Application", 2,
     'The backup job "nightly" stopped. Reason: disk full on E:\\ Code: 0x70'),
    ("2020-12-14T17:00:00.000", "Application", 1,
     "First paragraph of the message. Second paragraph, part of the text too. Its last line."),
    ("2020-12-14T16:00:00.000", "Application", 2, 'Service "db" terminated unexpectedly.'),
]

NO_TEXT = (b"Event[0]:\r\n  Date: 2024-01-01T00:00:00Z\r\n  Level: Error\r\n\r\n"
           b"Event[1]:\r\n  Level: Information\r\n  Description:\r\n\r\n"
           b"Event[2]:\r\n  Description:   \r\n")


def crlf(data: bytes) -> bytes:
    return data.replace(b"\n", b"\r\n")


def args_line(log: str, count: int) -> str:
    return f"qe {log} /c:{count} /rd:true /f:text"


def entries_json(entries) -> bytes:
    return b",".join(b'{"ts":' + json_str(ts) + b',"unit":' + json_str(unit) + b',"sev":"' +
                     SEV[sev].encode() + b'","text":' + json_str(text) + b"}"
                     for ts, unit, sev, text in entries)


def tail_doc(log: str, requested: int, entries) -> bytes:
    return doc(f'{{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":"event:{log}",'
               f'"label":"{LABELS[log]}","kind":"event","requested":{requested},'
               f'"count":{len(entries)},"entries":['.encode() + entries_json(entries) + b"]}")


def search_doc(log: str, q: str, scanned: int, entries) -> bytes:
    return doc(f'{{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":"event:{log}",'
               f'"label":"{LABELS[log]}","q":'.encode() + json_str(q) +
               f',"scanned":{scanned},"count":{len(entries)},"max":500,"truncated":false,"hits":['
               .encode() + entries_json(entries) + b"]}")


def refused(src: str) -> bytes:
    return doc(b'{"ok":false,"error":"source_not_allowed","message":"that path is not in this '
               b"plugin's read allowlist; call action=sources for the current list\",\"requested\":" +
               json_str(src) + b"}")


class Fake:
    """One folder with a fake wevtutil for one case, so cases can run side by side."""

    def __init__(self, t, tmp, name: str, output: bytes):
        self.t = t
        self.dir = tmp / name
        self.dir.mkdir()
        self.args = self.dir / "args"
        out = self.dir / "out"
        out.write_bytes(output)
        script = self.dir / "wevtutil"
        script.write_text("#!/bin/sh\n"
                          f"printf '%s\\n' \"$@\" > '{self.args}'\n"
                          f"cat '{out}'\n"
                          "echo 'fake wevtutil: noise' >&2\n")
        script.chmod(0o755)
        (self.dir / "wevtutil.cmd").write_bytes(
            ("@echo off\r\n"
             f'>"{t.path(str(self.args))}" echo %*\r\n'
             f'type "{t.path(str(out))}"\r\n'
             "echo fake wevtutil: noise 1>&2\r\n").encode())

    def env(self) -> dict:
        if self.t.kind == "wine":
            return {"WINEPATH": self.t.path(str(self.dir))}
        return {"PATH": f"{self.dir}:{os.environ.get('PATH', '/usr/bin:/bin')}"}

    def recorded(self) -> str:
        """The arguments of the last run, joined by spaces; NOT_RUN when it never ran."""
        if not self.args.exists():
            return NOT_RUN
        text = self.args.read_bytes().decode("latin-1")
        if self.t.kind == "wine":
            return text.rstrip(" \r\n")  # cmd's %* keeps the space before the dropped "2>NUL"
        return " ".join(text.splitlines())


def expect_run(fake: Fake, want, args: str):
    """The output (exact bytes, or a check) and the arguments the fake was called with."""
    def check(out: bytes):
        if callable(want):
            problem = want(out)
        else:
            problem = describe_difference(want, out) if out != want else None
        if problem:
            return problem
        got = fake.recorded()
        return None if got == args else f"wevtutil arguments {got!r}, expected {args!r}"
    return check


def body(out: bytes) -> dict:
    head, _, rest = out.partition(b"\r\n\r\n")
    return json.loads(rest)


def cases(t, tmp):
    result = []

    def add(name, output, query, want, args, **kw):
        fake = Fake(t, tmp, f"f{len(result)}", output)
        result.append(Case(name, expect_run(fake, want, args), query=query, env=fake.env(),
                           stderr=b"", **kw))

    # Record grouping, the three fields, levels and the order of delivery.
    add("tail of System: text on the line after Description, last record ends the output",
        EXAMPLE, "action=tail&src=event:System", tail_doc("System", 200, EXAMPLE_ENTRIES),
        args_line("System", 200))
    add("tail with CR LF line ends asks for lines records", crlf(EXAMPLE),
        "action=tail&src=event:System&lines=3", tail_doc("System", 3, EXAMPLE_ENTRIES),
        args_line("System", 3))
    add("tail of Application: multi-line texts, paragraphs joined, levels decide severity",
        crlf(APPLICATION), "action=tail&src=event:Application&lines=10",
        tail_doc("Application", 10, APPLICATION_ENTRIES), args_line("Application", 10))
    add("tail keeps the newest records when the producer writes more than asked for",
        crlf(APPLICATION), "action=tail&src=event:Application&lines=2",
        tail_doc("Application", 2, APPLICATION_ENTRIES[:2]), args_line("Application", 2))
    add("tail ignores q", EXAMPLE, "action=tail&src=event:System&lines=50&q=spooler",
        tail_doc("System", 50, EXAMPLE_ENTRIES), args_line("System", 50))

    # Search: 600 records asked for, the filter looks at the text only, all are counted.
    add("search of System filters on the text", EXAMPLE, "action=search&src=event:System&q=SPOOLER",
        search_doc("System", "SPOOLER", 3, EXAMPLE_ENTRIES[:1]), args_line("System", 600))
    add("search finds text from the lines after Description", crlf(APPLICATION),
        "action=search&src=event:Application&q=disk%20full&lines=5",
        search_doc("Application", "disk full", 4, APPLICATION_ENTRIES[1:2]),
        args_line("Application", 600))
    add("search sees a second paragraph", crlf(APPLICATION),
        "action=search&src=event:Application&q=second%20paragraph",
        search_doc("Application", "second paragraph", 4, APPLICATION_ENTRIES[2:3]),
        args_line("Application", 600))
    for q in ("2020-12-14", "HOST-01", "Application"):
        add(f"search does not look outside the text ({q})", crlf(APPLICATION),
            f"action=search&src=event:Application&q={q}", search_doc("Application", q, 4, []),
            args_line("Application", 600))

    # Nothing to show: still a complete success document.
    add("tail of an empty output", b"", "action=tail&src=event:System&lines=5",
        tail_doc("System", 5, []), args_line("System", 5))
    add("search of an empty output", b"", "action=search&src=event:Application&q=disk",
        search_doc("Application", "disk", 0, []), args_line("Application", 600))
    add("tail of records without Description text", NO_TEXT, "action=tail&src=event:System",
        tail_doc("System", 200, []), args_line("System", 200))
    add("search of records without Description text counts none", NO_TEXT,
        "action=search&src=event:System&q=x", search_doc("System", "x", 0, []),
        args_line("System", 600))

    # Bytes that a text-mode reader or a naive line split would get wrong.
    add("a Ctrl-Z byte in a message does not end the output",
        b"  Description: before\x1aafter\r\n\r\n  Description: next\r\n",
        "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("", "", 0, "before\x1aafter"), ("", "", 0, "next")]),
        args_line("System", 9))
    add("a line of 8190 bytes and CR LF does not split its record",
        b"  Date: 2024-02-02\r\n  Source: " + b"x" * 8180 + b"\r\n  Level: Warning\r\n"
        b"  Description: kept whole\r\n", "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("2024-02-02", "System", 1, "kept whole")]), args_line("System", 9))
    add("the rest of a long line is not read as a field",
        b"  Level: Information\n  Source: " + b"x" * 8181 + b"Level: Error\n  Description: plain\n",
        "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("", "System", 0, "plain")]), args_line("System", 9))
    add("a message line of 100000 bytes is cut to 1023",
        b"  Level: Information\r\n  Description:\r\n" + b"z" * 100000 + b"\r\nmore\r\n",
        "action=tail&src=event:Application&lines=9",
        tail_doc("Application", 9, [("", "Application", 0, "z" * 1023)]),
        args_line("Application", 9))

    # Megabytes of output: the document stays whole and bounded by what was asked for.
    big = b"".join(b"Event[%d]:\r\n  Date: 2024-03-01T00:00:%05dZ\r\n  Level: Information\r\n"
                   b"  Description:\r\nrecord %d of a long output, padded %s\r\n\r\n"
                   % (i, i, i, b"." * 60) for i in range(20000))

    def big_tail(out):
        d = body(out)
        e = d["entries"]
        if d["count"] != 2000 or len(e) != 2000:
            return f"count {d['count']}"
        if not e[0]["text"].startswith("record 0 ") or not e[-1]["text"].startswith("record 1999 "):
            return f"entries {e[0]['text']!r} .. {e[-1]['text']!r}"
        return None

    def big_search(out):
        d = body(out)
        if (d["scanned"], d["count"], d["truncated"]) != (600, 500, True):
            return f"scanned {d['scanned']}, count {d['count']}, truncated {d['truncated']}"
        if not d["hits"][499]["text"].startswith("record 499 "):
            return f"last hit {d['hits'][499]['text']!r}"
        return None

    add("tail of megabytes of output", big, "action=tail&src=event:System&lines=5000", big_tail,
        args_line("System", 2000))
    add("search of megabytes of output reads at most 600 records", big,
        "action=search&src=event:System&q=padded", big_search, args_line("System", 600))

    # Names outside the allowlist never start a command.
    for src in ("event:system", "event:Security", "event:System%20",
                "event:", "event:System%26calc"):
        shown = src.replace("%20", " ").replace("%26", "&")
        add(f"{shown!r} is refused without running the command", EXAMPLE,
            "action=tail&src=" + src, refused(shown), NOT_RUN)

    # No producer at all.
    empty = tmp / "no_wevtutil"
    empty.mkdir()
    if t.kind == "wine":
        missing = {"win_env": {"PATH": t.path(str(empty))}}
    else:
        missing = {"env": {"PATH": str(empty)}}
    result.append(Case("missing wevtutil gives an empty tail", tail_doc("System", 7, []),
                       query="action=tail&src=event:System&lines=7", stderr=b"", **missing))
    result.append(Case("missing wevtutil gives an empty search",
                       search_doc("Application", "disk", 0, []),
                       query="action=search&src=event:Application&q=disk", stderr=b"", **missing))

    # A command interpreter that cannot start: only Windows names it through the environment.
    no_shell = {"COMSPEC": t.path(str(empty / "cmd.exe"))}
    result.append(Case("no command interpreter: tail is unreadable",
                       doc(b'{"ok":false,"error":"unreadable_source","message":"the source could '
                           b'not be read on this node","src":"event:System"}'),
                       query="action=tail&src=event:System", win_env=no_shell, targets=("wine",)))
    result.append(Case("no command interpreter: search is unreadable",
                       doc(b'{"ok":false,"error":"unreadable_source","src":"event:Application"}'),
                       query="action=search&src=event:Application&q=x", win_env=no_shell,
                       targets=("wine",)))
    return result
