"""Tail and search of the two event logs, fed by a fake wevtutil.

On Linux the fake is a shell script first on PATH. Under Wine it is tests/tools/fake_wevtutil.cpp,
installed as the prefix's system32\\wevtutil.exe (the driver makes Wine run it instead of its
built-in stub) and told through the environment what to write and how to end. Either fake
records where it ran from and its arguments, and writes noise to its error output, which must
not reach ours. Decoys in the working folder, on PATH and on WINEPATH must never run.
"""
import json
import os
import shutil
import time
from pathlib import Path

from run import Case, describe_difference, doc, json_str

LABELS = {"System": "Windows System log", "Application": "Windows Application log"}
SEV = {0: "info", 1: "warn", 2: "err"}
NOT_RUN = "(not run)"
SYSTEM_WEVTUTIL = "C:\\windows\\system32\\wevtutil.exe"
TIME_LIMIT = 20
HANG_COUNT = 1777  # the hanging case's /c: value, which finds its processes afterwards

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
# An entry's unit is the record's Source, or the log's name when it has none; event_id follows
# the text when the record names one.
EXAMPLE_ENTRIES = [
    ("2024-01-15T10:30:00.1230000Z", "Example Source", 0, "The print spooler service entered the running state."),
    ("2024-01-15T09:00:00.0000000Z", "System", 0, "Text on the following line"),
    ("2024-01-15T08:00:00.0000000Z", "System", 1, "disk retry scheduled"),
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
    ("2020-12-14T17:09:08.940", "Example Source", 0, "Successfully scheduled the service for restart.", 100),
    ("2020-12-14T17:05:00.000", "Backup", 2,
     'The backup job "nightly" stopped. Reason: disk full on E:\\ Code: 0x70', 7),
    ("2020-12-14T17:00:00.000", "Installer", 1,
     "First paragraph of the message. Second paragraph, part of the text too. Its last line."),
    ("2020-12-14T16:00:00.000", "Database", 2, 'Service "db" terminated unexpectedly.'),
]
# With multiline=1 descriptions keep their lines and paragraph breaks.
APPLICATION_MULTILINE_ENTRIES = [
    APPLICATION_ENTRIES[0],
    ("2020-12-14T17:05:00.000", "Backup", 2,
     'The backup job "nightly" stopped.\nReason: disk full on E:\\\nCode: 0x70', 7),
    ("2020-12-14T17:00:00.000", "Installer", 1,
     "First paragraph of the message.\n\nSecond paragraph, part of the text too.\nIts last line."),
    APPLICATION_ENTRIES[3],
]

# What a real query of a non-English Windows writes with /uni:true (decoded here; encoded as
# UTF-16LE below): headers with and without the colon, "Description: " with a trailing space,
# blank lines and TABs inside descriptions, translated Level values, both Date forms, and a
# last record without a line end.
REAL = ("Event[0]\r\n"
        "  Log Name: Security\r\n"
        "  Source: Microsoft-Windows-Security-Auditing\r\n"
        "  Date: 2021-12-25T07:33:18.1520000Z\r\n"
        "  Event ID: 4625\r\n"
        "  Task: Вход в систему\r\n"
        "  Level: Сведения\r\n"
        "  Opcode: Сведения\r\n"
        "  Keyword: Аудит отказа\r\n"
        "  User: N/A\r\n"
        "  User Name: N/A\r\n"
        "  Computer: СЕРВЕР-01\r\n"
        "  Description: \r\n"
        "An account failed to log on.\r\n"
        "\r\n"
        "Subject:\r\n"
        "\tSecurity ID:\t\tS-1-0-0\r\n"
        "\tAccount Name:\t\t-\r\n"
        "\r\n"
        "Account For Which Logon Failed:\r\n"
        "\tAccount Name:\t\tПётр\r\n"
        "\r\n"
        "Event[1]\r\n"
        "  Log Name: Application\r\n"
        "  Source: Windows Error Reporting\r\n"
        "  Date: 2021-12-25T07:30:00.0000000Z\r\n"
        "  Event ID: 1001\r\n"
        "  Level: 信息\r\n"
        "  Description: \r\n"
        "Fault bucket 1234, type 5\r\n"
        "Event Name: APPCRASH\r\n"
        "\r\n"
        "Problem signature:\r\n"
        "P1: 日志.exe\r\n"
        "P2: 1.0.0.0\r\n"
        "\r\n"
        "Attached files:\r\n"
        "\\\\?\\C:\\ProgramData\\Microsoft\\Windows\\WER\\Temp\\WER1A2B.tmp.mdmp\r\n"
        "\r\n"
        "Event[2]:\r\n"
        "  Date: 2019-05-26T10:21:11.251\r\n"
        "  Level: Fehler\r\n"
        "  Description:\r\n"
        "Der Dienst \"Überwachung\" wurde unerwartet beendet. 😀\r\n"
        "\r\n"
        "Event[3]:\r\n"
        "  Date: 2019-05-26T10:20:00.000\r\n"
        "  Level: Avertissement\r\n"
        "  Description:\r\n"
        "\r\n"
        "Event[4]:\r\n"
        "  Date: 2019-05-26T10:19:00.000\r\n"
        "  Level: Avertissement\r\n"
        "  Description: Le délai d’attente du service a expiré.\r\n"
        "\r\n"
        "Event[5]\r\n"
        "  Date: 2019-05-26T10:18:00.000\r\n"
        "  Level: Подробности\r\n"
        "  Description: retry scheduled")
REAL_ENTRIES = [
    ("2021-12-25T07:33:18.1520000Z", "Security-Auditing", 0,
     "An account failed to log on. Subject: Security ID:\t\tS-1-0-0 Account Name:\t\t- "
     "Account For Which Logon Failed: Account Name:\t\tПётр", 4625),
    ("2021-12-25T07:30:00.0000000Z", "Windows Error Reporting", 0,
     "Fault bucket 1234, type 5 Event Name: APPCRASH Problem signature: P1: 日志.exe P2: 1.0.0.0 "
     "Attached files: \\\\?\\C:\\ProgramData\\Microsoft\\Windows\\WER\\Temp\\WER1A2B.tmp.mdmp", 1001),
    ("2019-05-26T10:21:11.251", "System", 2, "Der Dienst \"Überwachung\" wurde unerwartet beendet. 😀"),
    ("2019-05-26T10:19:00.000", "System", 1, "Le délai d’attente du service a expiré."),
    ("2019-05-26T10:18:00.000", "System", 1, "retry scheduled"),
]

NO_TEXT = (b"Event[0]:\r\n  Date: 2024-01-01T00:00:00Z\r\n  Level: Error\r\n\r\n"
           b"Event[1]:\r\n  Level: Information\r\n  Description:\r\n\r\n"
           b"Event[2]:\r\n  Description:   \r\n")


def crlf(data: bytes) -> bytes:
    return data.replace(b"\n", b"\r\n")


def utf16(text: str, mark: bool = True) -> bytes:
    return (b"\xff\xfe" if mark else b"") + text.encode("utf-16-le")


def args_line(log: str, count: int) -> str:
    return f"qe {log} /c:{count} /rd:true /f:text /uni:true"


def entry_json(ts, unit, sev, text, event_id=None) -> bytes:
    tail = b"" if event_id is None else f',"event_id":{event_id}'.encode()
    return (b'{"ts":' + json_str(ts) + b',"unit":' + json_str(unit) + b',"sev":"' + SEV[sev].encode() +
            b'","text":' + json_str(text) + tail + b"}")


def entries_json(entries) -> bytes:
    return b",".join(entry_json(*e) for e in entries)


def tail_doc(log: str, requested: int, entries) -> bytes:
    return doc(f'{{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":"event:{log}",'
               f'"label":"{LABELS[log]}","kind":"event","requested":{requested},'
               f'"count":{len(entries)},"entries":['.encode() + entries_json(entries) + b"]}")


def search_doc(log: str, q: str, scanned: int, entries) -> bytes:
    return doc(f'{{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":"event:{log}",'
               f'"label":"{LABELS[log]}","q":'.encode() + json_str(q) +
               f',"scanned":{scanned},"count":{len(entries)},"max":500,"truncated":false,"hits":['
               .encode() + entries_json(entries) + b"]}")


def unreadable_tail(log: str) -> bytes:
    return doc(f'{{"ok":false,"error":"unreadable_source","message":"the source could not be read on '
               f'this node","src":"event:{log}"}}')


def unreadable_search(log: str) -> bytes:
    return doc(f'{{"ok":false,"error":"unreadable_source","src":"event:{log}"}}')


def refused(src: str) -> bytes:
    return doc(b'{"ok":false,"error":"source_not_allowed","message":"that path is not in this '
               b"plugin's read allowlist; call action=sources for the current list\",\"requested\":" +
               json_str(src) + b"}")


def install_system_fake(t) -> None:
    """Puts the fake in the place of the prefix's system32\\wevtutil.exe."""
    prefix = Path(os.environ.get("WINEPREFIX") or Path.home() / ".wine")
    dest = prefix / "drive_c" / "windows" / "system32" / "wevtutil.exe"
    src = Path(t.launcher).parent / "fake_wevtutil.exe"
    if dest.exists() and dest.read_bytes() == src.read_bytes():
        return
    # A new file renamed into place, not an overwrite: Wine goes on using the image it once
    # mapped from a file, and an overwrite keeps the file's identity.
    new = dest.with_name("wevtutil.exe.pl_new")
    shutil.copyfile(src, new)
    os.replace(new, dest)


class Fake:
    """One folder with the canned output and the run record of one case, so cases can run
    side by side; on Linux also the fake itself, first on PATH."""

    def __init__(self, t, tmp, name: str, output: bytes, exit_status: int = 0, hang: bool = False,
                 chunk: int = 0):
        self.t = t
        self.dir = tmp / name
        self.dir.mkdir()
        self.record = self.dir / "record"
        self.out = self.dir / "out"
        self.out.write_bytes(output)
        self.exit_status, self.hang, self.chunk = exit_status, hang, chunk
        script = self.dir / "wevtutil"
        copy = f"dd if='{self.out}' bs={chunk} status=none" if chunk else f"cat '{self.out}'"
        # The hanging fake sleeps through a link in its folder, so its processes can be found
        # afterwards; one of them in the background, as a helper the tool started would be.
        end = (f"'{self.dir}/nap' 600 & '{self.dir}/nap' 600" if hang else f"exit {exit_status}")
        if hang:
            (self.dir / "nap").symlink_to(shutil.which("sleep"))
        script.write_text("#!/bin/sh\n"
                          f"printf '%s\\n' \"$0\" \"$*\" >> '{self.record}'\n"
                          f"{copy}\n"
                          "echo 'fake wevtutil: noise' >&2\n"
                          f"{end}\n")
        script.chmod(0o755)

    def env(self) -> dict:
        if self.t.kind == "wine":
            env = {"PL_FAKE_RECORD": self.t.path(str(self.record)), "PL_FAKE_OUTPUT": self.t.path(str(self.out))}
            if self.exit_status:
                env["PL_FAKE_EXIT"] = str(self.exit_status)
            if self.hang:
                env["PL_FAKE_HANG"] = "1"
            if self.chunk:
                env["PL_FAKE_CHUNK"] = str(self.chunk)
            return env
        return {"PATH": f"{self.dir}:{os.environ.get('PATH', '/usr/bin:/bin')}"}

    def expected_path(self) -> str:
        return SYSTEM_WEVTUTIL if self.t.kind == "wine" else str(self.dir / "wevtutil")

    def recorded(self) -> str:
        """The arguments of the one run, or NOT_RUN; a problem text for a run from elsewhere."""
        if not self.record.exists():
            return NOT_RUN
        lines = self.record.read_bytes().decode("utf-8", "replace").splitlines()
        if len(lines) != 2 or lines[0] != self.expected_path():
            return f"runs {lines!r}, expected one of {self.expected_path()!r}"
        return lines[1]

    def left_running(self) -> list:
        """Command lines of the live processes of this fake: its folder (Linux) or its hang
        count (Wine) is in every one. Killed processes are waited out briefly."""
        marker = str(self.dir) if self.t.kind == "linux" else f"/c:{HANG_COUNT}"
        for _ in range(100):
            found = []
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    cmdline = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(
                        "utf-8", "replace")
                except OSError:
                    continue
                if marker in cmdline and "wevtutil" in cmdline.lower() or f"{self.dir}/nap" in cmdline:
                    found.append(cmdline.strip())
            if not found:
                return []
            time.sleep(0.05)
        return found


def expect_run(fake: Fake, want, args: str, extra=None):
    """The output (exact bytes, or a check), the arguments the fake was called with, and what
    extra (if given) finds afterwards."""
    def check(out: bytes):
        if callable(want):
            problem = want(out)
        else:
            problem = describe_difference(want, out) if out != want else None
        if problem:
            return problem
        got = fake.recorded()
        if got != args:
            return f"wevtutil arguments {got!r}, expected {args!r}"
        return extra(fake) if extra is not None else None
    return check


def body(out: bytes) -> dict:
    head, _, rest = out.partition(b"\r\n\r\n")
    return json.loads(rest)


def cases(t, tmp):
    if t.kind == "wine":
        install_system_fake(t)
    result = []

    def add(name, output, query, want, args, fake_kw=None, extra=None, **kw):
        fake = Fake(t, tmp, f"f{len(result)}", output, **(fake_kw or {}))
        env = fake.env()
        env.update(kw.pop("env", {}))
        result.append(Case(name, expect_run(fake, want, args, extra), query=query, env=env, stderr=b"",
                           **kw))

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
    add("tail with multiline=1: descriptions keep their lines and paragraph breaks",
        crlf(APPLICATION), "action=tail&src=event:Application&lines=10&multiline=1",
        tail_doc("Application", 10, APPLICATION_MULTILINE_ENTRIES), args_line("Application", 10))
    add("search with multiline=1 matches across a description's lines and returns them whole",
        crlf(APPLICATION), "action=search&src=event:Application&q=stopped&multiline=1",
        search_doc("Application", "stopped", 4, APPLICATION_MULTILINE_ENTRIES[1:2]),
        args_line("Application", 600))
    add("tail keeps the newest records when the producer writes more than asked for",
        crlf(APPLICATION), "action=tail&src=event:Application&lines=2",
        tail_doc("Application", 2, APPLICATION_ENTRIES[:2]), args_line("Application", 2))
    add("tail ignores q", EXAMPLE, "action=tail&src=event:System&lines=50&q=spooler",
        tail_doc("System", 50, EXAMPLE_ENTRIES), args_line("System", 50))

    # Real output: UTF-16LE, with or without a byte-order mark, whole or in odd-sized writes
    # that split code units between reads.
    for how, output, chunk in (("with a byte-order mark", utf16(REAL), 0),
                               ("without a byte-order mark", utf16(REAL, mark=False), 0),
                               ("in writes of 7 bytes", utf16(REAL), 7)):
        add(f"tail of real UTF-16 output {how}: paragraphs, TABs, translated levels", output,
            "action=tail&src=event:System&lines=20", tail_doc("System", 20, REAL_ENTRIES),
            args_line("System", 20), fake_kw={"chunk": chunk})
    add("search of real UTF-16 output for a word of a later paragraph", utf16(REAL),
        "action=search&src=event:System&q=%D0%9F%D1%91%D1%82%D1%80",
        search_doc("System", "Пётр", 5, REAL_ENTRIES[:1]), args_line("System", 600))
    add("search of real UTF-16 output finds a word behind a TAB", utf16(REAL),
        "action=search&src=event:System&q=mdmp", search_doc("System", "mdmp", 5, REAL_ENTRIES[1:2]),
        args_line("System", 600))

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
    add("tail of a byte-order mark alone", b"\xff\xfe", "action=tail&src=event:System&lines=5",
        tail_doc("System", 5, []), args_line("System", 5))
    add("tail of records without Description text", NO_TEXT, "action=tail&src=event:System",
        tail_doc("System", 200, []), args_line("System", 200))
    add("search of records without Description text counts none", NO_TEXT,
        "action=search&src=event:System&q=x", search_doc("System", "x", 0, []),
        args_line("System", 600))

    # The tool's exit status: a failure with nothing read is an error, not an empty log.
    denied = b""  # "Access is denied." goes to the error output, which is discarded
    add("tool that fails before any record: tail is unreadable", denied,
        "action=tail&src=event:System&lines=5", unreadable_tail("System"), args_line("System", 5),
        fake_kw={"exit_status": 5})
    add("tool that fails before any record: search is unreadable", utf16("Event[0]\r\n  Date: x\r\n"),
        "action=search&src=event:Application&q=x", unreadable_search("Application"),
        args_line("Application", 600), fake_kw={"exit_status": 15007})
    add("tool that fails after some records: they are kept", utf16(REAL),
        "action=tail&src=event:System&lines=20", tail_doc("System", 20, REAL_ENTRIES),
        args_line("System", 20), fake_kw={"exit_status": 1})

    # Bytes that a text-mode reader or a naive line split would get wrong.
    add("a Ctrl-Z byte in a message does not end the output",
        b"  Description: before\x1aafter\r\n\r\n  Description: next\r\n",
        "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("", "System", 0, "before\x1aafter"), ("", "System", 0, "next")]),
        args_line("System", 9))
    add("a 0x0A byte inside a UTF-16 unit does not split a line",
        utf16("Event[0]\r\n  Level: Warning\r\n  Description: \u010a\u0a0d end\r\n"),
        "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("", "System", 1, "\u010a\u0a0d end")]), args_line("System", 9))
    add("a line of 8190 bytes and CR LF does not split its record",
        b"  Date: 2024-02-02\r\n  Source: " + b"x" * 8180 + b"\r\n  Level: Warning\r\n"
        b"  Description: kept whole\r\n", "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("2024-02-02", "x" * 95, 1, "kept whole")]), args_line("System", 9))
    add("the rest of a long line is not read as a field",
        b"  Level: Information\n  Source: " + b"x" * 8181 + b"Level: Error\n  Description: plain\n",
        "action=tail&src=event:System&lines=9",
        tail_doc("System", 9, [("", "x" * 95, 0, "plain")]), args_line("System", 9))
    add("a message line of 100000 bytes is cut to 1023",
        b"  Level: Information\r\n  Description:\r\n" + b"z" * 100000 + b"\r\nmore\r\n",
        "action=tail&src=event:Application&lines=9",
        tail_doc("Application", 9, [("", "Application", 0, "z" * 1023)]),
        args_line("Application", 9))

    # Output that is not UTF-16 is read as bytes: the ANSI code page's on Windows (Wine's is
    # 1252), U+FFFD for what is not UTF-8 elsewhere. A long UTF-8 line stays UTF-8 although its
    # first piece ends inside a character.
    ansi = "Grüße aus dem Café" if t.kind == "wine" else "Gr\ufffd\ufffde aus dem Caf\ufffd"
    add("byte output that is not UTF-8 reaches the document as UTF-8",
        b"  Level: Warning\r\n  Description: Gr\xfc\xdfe aus dem Caf\xe9\r\n",
        "action=tail&src=event:System&lines=9", tail_doc("System", 9, [("", "System", 1, ansi)]),
        args_line("System", 9))
    add("a UTF-8 line longer than a piece keeps its characters",
        b"  Level: Information\r\n  Description:\r\n" + "é".encode() * 5000 + b"\r\n",
        "action=tail&src=event:System&lines=9", tail_doc("System", 9, [("", "System", 0, "é" * 511)]),
        args_line("System", 9))

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
    add("tail of megabytes of UTF-16 output", utf16(big.decode()), "action=tail&src=event:System&lines=5000",
        big_tail, args_line("System", 2000))

    # Names outside the allowlist never start a command.
    for src in ("event:system", "event:Security", "event:System%20",
                "event:", "event:System%26calc"):
        shown = src.replace("%20", " ").replace("%26", "&")
        add(f"{shown!r} is refused without running the command", EXAMPLE,
            "action=tail&src=" + src, refused(shown), NOT_RUN)

    # Only the system's own tool runs: never one from the working folder, PATH or WINEPATH,
    # nor through a command interpreter (Linux: no search of the working folder).
    decoys = tmp / "decoys"
    decoys.mkdir()
    decoy_ran = decoys / "decoy_ran"
    for folder in ("cwd", "path", "winepath"):
        d = decoys / folder
        d.mkdir()
        script = d / "wevtutil"
        script.write_text(f"#!/bin/sh\necho {folder} >> '{decoy_ran}'\n")
        script.chmod(0o755)
        (d / "wevtutil.cmd").write_bytes(f"@echo {folder}>>\"{t.path(str(decoy_ran))}\"\r\n".encode())
        if t.kind == "wine":
            # The fake itself: run from here, it would record a path that is not system32's.
            shutil.copyfile(Path(t.launcher).parent / "fake_wevtutil.exe", d / "wevtutil.exe")

    def no_decoy(_fake):
        return f"a decoy ran: {decoy_ran.read_text()!r}" if decoy_ran.exists() else None

    # The launcher's PATH replaces the one Wine built with WINEPATH, so they are two cases.
    add("decoys in the working folder and on WINEPATH never run", utf16(REAL),
        "action=tail&src=event:System&lines=20", tail_doc("System", 20, REAL_ENTRIES),
        args_line("System", 20), extra=no_decoy, cwd=str(decoys / "cwd"),
        env={"WINEPATH": t.path(str(decoys / "winepath"))} if t.kind == "wine" else {})
    add("decoys in the working folder and on PATH never run", utf16(REAL),
        "action=tail&src=event:System&lines=20", tail_doc("System", 20, REAL_ENTRIES),
        args_line("System", 20), extra=no_decoy, cwd=str(decoys / "cwd"),
        win_env={"PATH": t.path(str(decoys / "path"))}, targets=("wine",))
    add("no command interpreter is needed", EXAMPLE, "action=tail&src=event:System&lines=3",
        tail_doc("System", 3, EXAMPLE_ENTRIES), args_line("System", 3),
        win_env={"COMSPEC": t.path(str(decoys / "cmd.exe"))}, targets=("wine",))

    # A tool that cannot be started.
    empty = tmp / "no_wevtutil"
    empty.mkdir()
    if t.kind == "wine":
        missing = {"env": {"WINEDLLOVERRIDES": "wevtutil.exe=d"}}  # Wine then cannot load it
    else:
        missing = {"env": {"PATH": str(empty)}}
    result.append(Case("missing wevtutil: tail is unreadable", unreadable_tail("System"),
                       query="action=tail&src=event:System&lines=7", stderr=b"", **missing))
    result.append(Case("missing wevtutil: search is unreadable", unreadable_search("Application"),
                       query="action=search&src=event:Application&q=disk", stderr=b"", **missing))

    # A tool that hangs: ended at the time limit, with all it started. One case: it costs the
    # whole limit.
    def nothing_left(fake):
        left = fake.left_running()
        return f"left running: {left}" if left else None
    add("a tool that hangs is ended at the time limit, and all it started", utf16(REAL),
        f"action=tail&src=event:System&lines={HANG_COUNT}", unreadable_tail("System"),
        args_line("System", HANG_COUNT), fake_kw={"hang": True}, extra=nothing_left,
        seconds=(TIME_LIMIT - 0.5, TIME_LIMIT + 8), timeout=TIME_LIMIT + 40)
    return result
