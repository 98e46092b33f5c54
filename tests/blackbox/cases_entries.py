"""Logs read as their writers meant them: the writer's level, timestamps as written, JSON lines,
and whole entries with multiline=1."""
import os

from run import Case, LogFolder, entry


# Lines as real programs write them, each with what the entry must show.
LAYOUTS = [
    ("CBS.log: Info, though its text says Failed",
     b"2024-01-15 10:30:31, Info                  CBS    Failed to get next element [HRESULT = 0x800f080d - CBS_E_UNKNOWN_UPDATE]",
     entry("Info                  CBS    Failed to get next element [HRESULT = 0x800f080d - CBS_E_UNKNOWN_UPDATE]",
           "2024-01-15 10:30:31", "CBS")),
    ("Serilog: [ERR]",
     b"2024-01-15 10:31:00.123 +01:00 [ERR] Payment gateway unreachable",
     entry("[ERR] Payment gateway unreachable", "2024-01-15 10:31:00.123 +01:00", sev="err")),
    ("Serilog: [DBG] whose text says errors",
     b"2024-01-15 10:31:01.000 +01:00 [DBG] Validation finished, no errors so far",
     entry("[DBG] Validation finished, no errors so far", "2024-01-15 10:31:01.000 +01:00")),
    ("NLog: |FATAL|",
     b"2024-01-15 10:32:00.1234|FATAL|MyApp.Worker|Unhandled exception",
     entry("|FATAL|MyApp.Worker|Unhandled exception", "2024-01-15 10:32:00.1234", "MyApp.Worker", "err")),
    ("WindowsUpdate.log: 7-digit fraction",
     b"2024/01/15 10:36:00.1234567 1234  5678  Agent          * START *  Finding updates",
     entry("1234  5678  Agent          * START *  Finding updates", "2024/01/15 10:36:00.1234567")),
    ("syslog with a space-padded day",
     b"Jan  5 09:12:44 host kernel: usb 1-1: new high-speed USB device",
     entry("usb 1-1: new high-speed USB device", "Jan  5 09:12:44", "kernel")),
    ("Apache error log",
     b"[Mon Jan 15 10:38:00.123456 2024] [core:error] [pid 42] AH00126: Invalid URI in request",
     entry("[core:error] [pid 42] AH00126: Invalid URI in request", "Mon Jan 15 10:38:00.123456 2024", sev="err")),
    (".NET en-US DateTime.ToString()",
     b"1/15/2024 10:39:00 AM Service started",
     entry("Service started", "1/15/2024 10:39:00 AM")),
    ("Serilog compact JSON",
     b'{"@t":"2024-01-15T10:40:00.0000000Z","@mt":"Order {OrderId} shipped to {City}","OrderId":7,'
     b'"City":"K\\u00f6ln","SourceContext":"Shop.Orders"}',
     entry("Order 7 shipped to K\u00f6ln", "2024-01-15T10:40:00.0000000Z", "Shop.Orders")),
    ("pino JSON, numeric level",
     b'{"level":50,"time":1705315200000,"pid":1,"hostname":"h","msg":"db down"}',
     entry("db down", "2024-01-15T10:40:00.000Z", sev="err")),
]

DOTNET = (b"2024-01-15 10:30:00,123 [12] ERROR MyApp.OrderService - Order 7 failed\r\n"
          b"System.InvalidOperationException: Sequence contains no elements\r\n"
          b"   at System.Linq.ThrowHelper.ThrowNoElementsException()\r\n"
          b"2024-01-15 10:30:01,000 [12] INFO  MyApp.OrderService - next\r\n")
PYTHON = (b"2024-01-15 10:30:03,000 - worker - ERROR - crashed\n"
          b"Traceback (most recent call last):\n"
          b"  File \"/srv/app/worker.py\", line 10, in run\n"
          b"ZeroDivisionError: division by zero\n")


def count_entries(n):
    def check(got):
        found = got.count(b'{"ts"')
        return None if found == n else f"{found} entries, expected {n}"
    return check


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)

    folder = LogFolder(t, root)
    src, tail_doc, search_doc = folder.src, folder.tail_doc, folder.search_doc

    out = []
    for i, (name, line, want) in enumerate(LAYOUTS):
        for how, ending in (("LF", b"\n"), ("CR LF", b"\r\n")):
            fname = f"layout{i}{how.replace(' ', '')}.log"
            with open(os.path.join(root, fname), "wb") as f:
                f.write(line + ending)
            out.append(Case(f"{name} ({how})", tail_doc(fname, 5, [want]),
                            query=f"action=tail&src={src(fname)}&lines=5", local=local))

    with open(os.path.join(root, "traces.log"), "wb") as f:
        f.write(DOTNET + PYTHON)
    dotnet_first = entry("[12] ERROR MyApp.OrderService - Order 7 failed\n"
                         "System.InvalidOperationException: Sequence contains no elements\n"
                         "   at System.Linq.ThrowHelper.ThrowNoElementsException()",
                         "2024-01-15 10:30:00,123", "MyApp.OrderService", "err")
    dotnet_next = entry("[12] INFO  MyApp.OrderService - next", "2024-01-15 10:30:01,000", "MyApp.OrderService")
    python = entry("- worker - ERROR - crashed\nTraceback (most recent call last):\n"
                   "  File \"/srv/app/worker.py\", line 10, in run\nZeroDivisionError: division by zero",
                   "2024-01-15 10:30:03,000", "worker", "err")
    out += [
        Case("multiline=1: traces join the stamped entry before them", tail_doc("traces.log", 10,
             [dotnet_first, dotnet_next, python]),
             query=f"action=tail&src={src('traces.log')}&lines=10&multiline=1", local=local),
        Case("multiline=1: a tail of 2 is the newest 2 entries", tail_doc("traces.log", 2, [dotnet_next, python]),
             query=f"action=tail&src={src('traces.log')}&lines=2&multiline=1", local=local),
        Case("without multiline every line is an entry", count_entries(8),
             query=f"action=tail&src={src('traces.log')}&lines=10", local=local),
        Case("multiline=1: a search finds an entry by any of its lines",
             search_doc("traces.log", "division", 8, [python]),
             query=f"action=search&src={src('traces.log')}&q=division&multiline=1", local=local),
        Case("multiline=1: a search whose text is in two entries lists both once",
             search_doc("traces.log", "order", 8, [dotnet_first, dotnet_next]),
             query=f"action=search&src={src('traces.log')}&q=order&multiline=1", local=local),
    ]
    return out
