"""Time ranges: since and until on tail and search, for log files (bisection over a log of
several hundred MB, syslog's missing year, zone suffixes, lines without a timestamp) and for
event logs (the range as the event query the fake wevtutil records)."""
import os
import urllib.parse

from cases_event import EXAMPLE, EXAMPLE_ENTRIES, LABELS, Fake, entries_json, expect_run
from run import Case, doc, echo, json_str

BIG_DAYS = 13  # 2024-03-01 .. 2024-03-13, about 285 MB


def entry(text, ts="", unit="", sev="info"):
    return (b'{"ts":' + json_str(ts) + b',"unit":' + json_str(unit) + b',"sev":' + json_str(sev) +
            b',"text":' + json_str(text) + b'}')


# The big log: four lines a second, as a service with a request log writes them; the last line of
# every hour is an error followed by a Java stack trace, lines without a timestamp.
TRACE = [b"java.lang.IllegalStateException: pool exhausted",
         b"\tat com.example.pool.Pool.take(Pool.java:88)"]


def big_line(stamp: str, second: int, quarter: int, last_of_hour: bool) -> bytes:
    if last_of_hour and quarter == 3:
        return b"%s.750Z ERROR request failed\n" % stamp.encode()
    return b"%s.%03dZ INFO request s%02dq%d served in 12 ms\n" % (stamp.encode(), quarter * 250, second, quarter)


def big_entries(day: int, hour: int, minute: int, second: int, multiline: bool):
    """The entries of one second of the big log, oldest first."""
    stamp = f"2024-03-{day:02d}T{hour:02d}:{minute:02d}:{second:02d}"
    last = minute == 59 and second == 59
    out = []
    for q in range(4):
        ts = f"{stamp}.{q * 250:03d}Z"
        if last and q == 3:
            if multiline:
                out.append(entry("ERROR request failed\n" + "\n".join(t.decode() for t in TRACE), ts, sev="err"))
            else:
                out.append(entry("ERROR request failed", ts, sev="err"))
                out += [entry(t.decode()) for t in TRACE]
        else:
            out.append(entry(f"INFO request s{second:02d}q{q} served in 12 ms", ts))
    return out


def big_offset(day: int, hour: int, minute: int) -> int:
    """Where the first line of a minute of the big log begins."""
    plain = sum(len(big_line("2024-03-01T00:00:00", s, q, False)) for s in range(60) for q in range(4))
    last = sum(len(big_line("2024-03-01T00:00:00", s, q, s == 59)) for s in range(60) for q in range(4))
    last += sum(len(t) + 1 for t in TRACE)
    hour_size = 59 * plain + last
    return ((day - 1) * 24 + hour) * hour_size + minute * plain


def write_big(path: str) -> None:
    """Written a minute at a time from two templates, so several hundred MB take seconds."""
    start = "2024-03-01T00:00:"
    plain = b"".join(big_line(start + f"{s:02d}", s, q, False) for s in range(60) for q in range(4))
    last = b"".join(big_line(start + f"{s:02d}", s, q, s == 59) for s in range(60) for q in range(4))
    last += b"\n".join(TRACE) + b"\n"
    with open(path, "wb") as f:
        for day in range(1, BIG_DAYS + 1):
            for hour in range(24):
                chunk = []
                for minute in range(60):
                    prefix = f"2024-03-{day:02d}T{hour:02d}:{minute:02d}:".encode()
                    chunk.append((last if minute == 59 else plain).replace(start.encode(), prefix))
                f.write(b"".join(chunk))


def cases(t, tmp):
    local = str(tmp / "local")
    root = os.path.join(local, "wendquil")
    os.makedirs(root)
    result = []

    def fid(name):
        return t.file_id(os.path.join(root, name))

    def src(name):
        return urllib.parse.quote(fid(name), safe="")

    def q(value):
        return urllib.parse.quote(value, safe="")

    def echo_keys(since, until):
        out = b""
        if since:
            out += b',"since":' + json_str(since)
        if until:
            out += b',"until":' + json_str(until)
        return out

    def tail_doc(name, requested, entries, since=None, until=None):
        return doc(b'{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":' + json_str(fid(name)) +
                   b',"label":' + json_str(name) + b',"kind":"file"' + echo_keys(since, until) +
                   b',"requested":%d,"count":%d,"entries":[' % (requested, len(entries)) + b",".join(entries) + b"]}")

    def search_doc(name, text, scanned, hits, since=None, until=None):
        return doc(b'{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":' + json_str(fid(name)) +
                   b',"label":' + json_str(name) + b',"q":' + json_str(text) + echo_keys(since, until) +
                   b',"scanned":%d,"count":%d,"max":500,"truncated":false,"hits":[' % (scanned, len(hits)) +
                   b",".join(hits) + b"]}")

    def file_search_doc(name, text, scanned, hits, searched, next_before, since=None, until=None):
        return doc(b'{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":' + json_str(fid(name)) +
                   b',"label":' + json_str(name) + b',"q":' + json_str(text) + echo_keys(since, until) +
                   b',"scanned":%d,"count":%d,"max":500,"truncated":false,"scope":"file","searched_bytes":%d,'
                   b'"next_before":%d,"hits":[' % (scanned, len(hits), searched, next_before) + b",".join(hits) + b"]}")

    def invalid(param, raw: bytes):
        return doc(b'{"ok":false,"error":"invalid_time","message":"since and until take YYYY-MM-DDTHH:MM[:SS]",'
                   b'"param":"' + param.encode() + b'","value":' + json_str(echo(raw)) + b"}")

    def add(name, query, want, **kw):
        result.append(Case(name, want, query=query, local=local, **kw))

    def ranged(action, name, since=None, until=None, extra=""):
        query = f"action={action}&src={src(name)}{extra}"
        if since is not None:
            query += f"&since={q(since)}"
        if until is not None:
            query += f"&until={q(until)}"
        return query

    # A log of several hundred MB: ranges at its start, in its middle and at its end.
    write_big(os.path.join(root, "big.log"))
    first_minute_end = big_entries(1, 0, 0, 59, False)
    add("big log: tail until the end of its first minute", ranged("tail", "big.log", until="2024-03-01T00:00",
                                                               extra="&lines=2"),
        tail_doc("big.log", 2, first_minute_end[2:], until="2024-03-01T00:00"))
    add("big log: tail of its very first second, in the clock of the rows",
        ranged("tail", "big.log", since="2024-03-01T00:00:00", until="2024-03-01T00:00:00", extra="&lines=10"),
        tail_doc("big.log", 10, big_entries(1, 0, 0, 0, False), since="2024-03-01T00:00:00",
                 until="2024-03-01T00:00:00"))
    middle = big_entries(7, 11, 59, 58, False) + big_entries(7, 11, 59, 59, False)
    add("big log: tail until the middle keeps the stack trace lines of the range's last entry",
        ranged("tail", "big.log", until="2024-03-07T11:59", extra="&lines=4"),
        tail_doc("big.log", 4, middle[-4:], until="2024-03-07T11:59"))
    middle_joined = big_entries(7, 11, 59, 58, True) + big_entries(7, 11, 59, 59, True)
    add("big log: with multiline=1 the trace joins its entry at the range's end",
        ranged("tail", "big.log", since="2024-03-07T11:59:58", until="2024-03-07T11:59:59",
               extra="&lines=20&multiline=1"),
        tail_doc("big.log", 20, middle_joined, since="2024-03-07T11:59:58", until="2024-03-07T11:59:59"))
    add("big log: the range's first second holds no line of the second before",
        ranged("tail", "big.log", since="2024-03-07T12:00:00", until="2024-03-07T12:00:00"),
        tail_doc("big.log", 200, big_entries(7, 12, 0, 0, False), since="2024-03-07T12:00:00",
                 until="2024-03-07T12:00:00"))
    end = big_entries(BIG_DAYS, 23, 59, 59, False)
    add("big log: since near its end, no until", ranged("tail", "big.log", since=f"2024-03-{BIG_DAYS}T23:59:59"),
        tail_doc("big.log", 200, end, since=f"2024-03-{BIG_DAYS}T23:59:59"))
    add("big log: since after its last line gives no entries",
        ranged("tail", "big.log", since=f"2024-03-{BIG_DAYS + 1}T00:00", extra="&lines=5"),
        tail_doc("big.log", 5, [], since=f"2024-03-{BIG_DAYS + 1}T00:00"))
    add("big log: until before its first line gives no entries",
        ranged("tail", "big.log", until="2024-02-29T23:59:59", extra="&lines=5"),
        tail_doc("big.log", 5, [], until="2024-02-29T23:59:59"))
    add("big log: since later than until is a valid request with no entries",
        ranged("tail", "big.log", since="2024-03-05T10:00", until="2024-03-05T09:00", extra="&lines=5"),
        tail_doc("big.log", 5, [], since="2024-03-05T10:00", until="2024-03-05T09:00"))
    hits = [big_entries(7, 12, m, 30, False)[2] for m in range(5)]
    add("big log: a search within five minutes of its middle scans those lines only",
        ranged("search", "big.log", since="2024-03-07T12:00", until="2024-03-07T12:04", extra="&q=S30Q2"),
        search_doc("big.log", "S30Q2", 5 * 240, hits, since="2024-03-07T12:00", until="2024-03-07T12:04"))
    five_minutes = big_offset(7, 12, 5) - big_offset(7, 12, 0)
    add("big log: a whole-file search reads the range only and reports its start reached",
        ranged("search", "big.log", since="2024-03-07T12:00", until="2024-03-07T12:04", extra="&q=S30Q2&scope=file"),
        file_search_doc("big.log", "S30Q2", 5 * 240, hits, five_minutes, -1, since="2024-03-07T12:00",
                        until="2024-03-07T12:04"))
    add("big log: a whole-file search before an offset inside the range",
        ranged("search", "big.log", since="2024-03-07T12:00", until="2024-03-07T12:04",
               extra=f"&q=S30Q2&scope=file&before={big_offset(7, 12, 2)}"),
        file_search_doc("big.log", "S30Q2", 2 * 240, hits[:2], big_offset(7, 12, 2) - big_offset(7, 12, 0), -1,
                        since="2024-03-07T12:00", until="2024-03-07T12:04"))
    add("big log: a search outside the log's time finds nothing",
        ranged("search", "big.log", since="2025-01-01T00:00", extra="&q=request"),
        search_doc("big.log", "request", 0, [], since="2025-01-01T00:00"))

    # Syslog gives no year: the one that puts a line last before the file's modification.
    syslog = os.path.join(root, "syslog.log")
    with open(syslog, "wb") as f:
        f.write(b"Dec 30 12:00:00 host cron[9]: (root) CMD (backup)\n"
                b"Dec 31 23:59:00 host app[12]: last of the year\n"
                b"Jan  1 00:01:00 host app[12]: first of the year\n"
                b"Jan  2 08:00:00 host sshd[77]: Accepted publickey for \xd0\xbf\xd1\x91\xd1\x82\xd1\x80\n")
    modified = 1704283200  # 2024-01-03T12:00:00Z: the same year in every zone
    os.utime(syslog, (modified, modified))
    new_year = [entry("last of the year", "Dec 31 23:59:00", "app[12]"),
                entry("first of the year", "Jan  1 00:01:00", "app[12]")]
    add("syslog: the year comes from the file's modification, across New Year",
        ranged("tail", "syslog.log", since="2023-12-31T23:58", until="2024-01-01T00:02"),
        tail_doc("syslog.log", 200, new_year, since="2023-12-31T23:58", until="2024-01-01T00:02"))
    add("syslog: December lines belong to the year before the modification",
        ranged("tail", "syslog.log", since="2024-12-01T00:00"), tail_doc("syslog.log", 200, [], since="2024-12-01T00:00"))
    add("syslog: until is inclusive to the end of its minute",
        ranged("tail", "syslog.log", since="2023-12-31T00:00", until="2023-12-31T23:59"),
        tail_doc("syslog.log", 200, new_year[:1], since="2023-12-31T00:00", until="2023-12-31T23:59"))
    add("syslog: a search within a range, non-ASCII text",
        ranged("search", "syslog.log", since="2024-01-02T08:00:00", extra="&q=" + q("пётр")),
        search_doc("syslog.log", "пётр", 1, [entry("Accepted publickey for пётр", "Jan  2 08:00:00", "sshd[77]")],
                   since="2024-01-02T08:00:00"))

    # Timestamps with a zone are compared as written: the zone is not applied.
    with open(os.path.join(root, "zones.log"), "wb") as f:
        f.write(b"2024-01-15T09:59:59+05:00 WARN before\n"
                b"2024-01-15T10:00:00+05:00 WARN east\n"
                b"2024-01-15T10:30:00-08:00 ERROR west\n"
                b"2024-01-15 10:30:59,999 -0800 ERROR west, its last millisecond\n"
                b"2024-01-15T10:31:00Z INFO after\n")
    add("zones: timestamps with a zone suffix are compared as written",
        ranged("tail", "zones.log", since="2024-01-15T10:00", until="2024-01-15T10:30"),
        tail_doc("zones.log", 200, [entry("WARN east", "2024-01-15T10:00:00+05:00", sev="warn"),
                                    entry("ERROR west", "2024-01-15T10:30:00-08:00", sev="err"),
                                    entry("ERROR west, its last millisecond", "2024-01-15 10:30:59,999 -0800",
                                          sev="err")],
                 since="2024-01-15T10:00", until="2024-01-15T10:30"))

    # Lines without a timestamp belong to the entry before them: in a range with it, outside
    # without it. Python's logging writes a traceback this way.
    with open(os.path.join(root, "trace.log"), "wb") as f:
        f.write("a line before any timestamp\n"
                "2024-01-15 10:00:00,001 ERROR Ошибка при обработке заказа\n"
                "Traceback (most recent call last):\n"
                '  File "/srv/app/заказ.py", line 12, in handle\n'
                "ValueError: bad\n"
                "2024-01-15 10:01:00,002 INFO 注文 processed\n"
                "2024-01-15 10:02:00,003 INFO later\n".encode())
    err = ("Ошибка при обработке заказа", "2024-01-15 10:00:00,001")
    cont = ["Traceback (most recent call last):", '  File "/srv/app/заказ.py", line 12, in handle',
            "ValueError: bad"]
    add("continuation lines in a range are entries of the range",
        ranged("tail", "trace.log", since="2024-01-15T10:00", until="2024-01-15T10:00"),
        tail_doc("trace.log", 200, [entry("ERROR " + err[0], err[1], sev="err")] +
                 [entry(c, sev=sev) for c, sev in zip(cont, ("err", "info", "err"))],
                 since="2024-01-15T10:00", until="2024-01-15T10:00"))
    add("with multiline=1 they join the entry whose time is in the range",
        ranged("tail", "trace.log", since="2024-01-15T10:00", until="2024-01-15T10:01", extra="&multiline=1"),
        tail_doc("trace.log", 200, [entry("ERROR " + err[0] + "\n" + "\n".join(cont), err[1], sev="err"),
                                    entry("INFO 注文 processed", "2024-01-15 10:01:00,002")],
                 since="2024-01-15T10:00", until="2024-01-15T10:01"))
    add("continuation lines of an entry outside the range are left out, and lines before any time",
        ranged("tail", "trace.log", until="2024-01-15T09:59", extra="&lines=5"),
        tail_doc("trace.log", 5, [], until="2024-01-15T09:59"))
    add("a search finds a continuation line of an entry in the range",
        ranged("search", "trace.log", since="2024-01-15T10:00", until="2024-01-15T10:00", extra="&q=" + q("заказ.py")),
        search_doc("trace.log", "заказ.py", 4, [entry(cont[1])], since="2024-01-15T10:00", until="2024-01-15T10:00"))
    trace_lines = open(os.path.join(root, "trace.log"), "rb").read().splitlines(True)
    entry_bytes = sum(len(x) for x in trace_lines[1:5])
    add("a whole-file search with multiline=1 keeps the entry in the range whole",
        ranged("search", "trace.log", since="2024-01-15T10:00", until="2024-01-15T10:00",
               extra="&scope=file&multiline=1&q=" + q("заказ.py")),
        file_search_doc("trace.log", "заказ.py", 4, [entry("ERROR " + err[0] + "\n" + "\n".join(cont), err[1], sev="err")],
                        entry_bytes, -1, since="2024-01-15T10:00", until="2024-01-15T10:00"))
    add("a whole-file search leaves out a continuation line of an entry outside the range",
        ranged("search", "trace.log", since="2024-01-15T10:01", extra="&scope=file&q=" + q("заказ.py")),
        file_search_doc("trace.log", "заказ.py", 2, [], sum(len(x) for x in trace_lines[5:]), -1,
                        since="2024-01-15T10:01"))
    add("... and not one of an entry outside it",
        ranged("search", "trace.log", since="2024-01-15T10:01", extra="&q=" + q("заказ.py")),
        search_doc("trace.log", "заказ.py", 2, [], since="2024-01-15T10:01"))

    # Values that are not a moment; the source is looked up first, then since, then until.
    bad = [("since", "2024-02-30T10:00", "an impossible date"), ("until", "2024-01-15T24:00", "hour 24"),
           ("since", "2023-02-29T00:00", "February 29 of a common year"), ("until", "2024-01-15T10:05:60", "second 60"),
           ("since", "2024-01-15 10:05", "a space for T"), ("since", "2024-01-15T10:05Z", "a zone"),
           ("until", "2024-01-15", "a date alone"), ("since", "1705313100", "seconds since 1970"),
           ("until", "２０２４-01-15T10:05", "full-width digits")]
    for param, value, what in bad:
        add(f"invalid_time: {what}", ranged("tail", "zones.log", **{param: value}), invalid(param, value.encode()))
    add("invalid_time: both bad, since is named",
        ranged("tail", "zones.log", since="yesterday", until="tomorrow"), invalid("since", b"yesterday"))
    long_value = "2024-01-15T10:00:00" + "0" * 40
    add("invalid_time: a long value is echoed cut to 31 bytes", ranged("search", "zones.log", since=long_value,
                                                                      extra="&q=x"),
        invalid("since", long_value.encode()))
    add("invalid_time: bytes that are not UTF-8 are echoed as U+FFFD",
        f"action=tail&src={src('zones.log')}&until=2024-01-15T10%FF%FE", invalid("until", b"2024-01-15T10\xff\xfe"))
    add("invalid_time: non-ASCII text is echoed whole characters",
        ranged("tail", "zones.log", since="2024-01-15Tдесять часов утра"),
        invalid("since", "2024-01-15Tдесять часов утра".encode()))
    add("invalid_time comes after the source lookup",
        f"action=tail&src={q(fid('missing.log'))}&since=bad",
        doc(b'{"ok":false,"error":"source_not_allowed","message":"that path is not in this plugin\'s read '
            b'allowlist; call action=sources for the current list","requested":' +
            json_str(echo(fid("missing.log").encode())) + b"}"))
    add("invalid_time comes before missing_query", ranged("search", "zones.log", since="bad"),
        invalid("since", b"bad"))
    add("an empty since is not given", ranged("tail", "zones.log", since="", extra="&lines=1"),
        tail_doc("zones.log", 1, [entry("INFO after", "2024-01-15T10:31:00Z")]))
    add("a tail within a range ignores after: no cursor keys",
        ranged("tail", "zones.log", since="2024-01-15T10:31", extra="&after="),
        tail_doc("zones.log", 200, [entry("INFO after", "2024-01-15T10:31:00Z")], since="2024-01-15T10:31"))
    add("a value percent-encoded as a browser sends it", f"action=tail&src={src('zones.log')}"
                                                          "&since=2024-01-15T10%3A31",
        tail_doc("zones.log", 200, [entry("INFO after", "2024-01-15T10:31:00Z")], since="2024-01-15T10:31"))

    # Event logs: the range goes to the tool as its event query, in UTC; the node's clock here is
    # five hours behind UTC.
    def event_doc(action, log, n, entries, since=None, until=None, text=None, scanned=0):
        head = (f'{{"ok":true,"action":"{action}","plugin":"plugin_logs","utc":"U","src":"event:{log}",'
                f'"label":"{LABELS[log]}"').encode()
        if action == "tail":
            return doc(head + b',"kind":"event"' + echo_keys(since, until) +
                       b',"requested":%d,"count":%d,"entries":[' % (n, len(entries)) + entries_json(entries) + b"]}")
        return doc(head + b',"q":' + json_str(text) + echo_keys(since, until) +
                   b',"scanned":%d,"count":%d,"max":500,"truncated":false,"hits":[' % (scanned, len(entries)) +
                   entries_json(entries) + b"]}")

    # Wine takes its zone from TZ as the C library does.
    zone = {"TZ": "EST5"}
    shift = 5

    def utc(hour, minute, second, millis, day=15):
        return f"2024-01-{day:02d}T{hour + shift:02d}:{minute:02d}:{second:02d}.{millis}Z"

    def event_case(name, query, want, args):
        fake = Fake(t, tmp, f"e{len(result)}", EXAMPLE)
        env = fake.env()
        env.update(zone)
        result.append(Case(name, expect_run(fake, want, args), query=query, env=env, stderr=b""))

    both = (f"*[System[TimeCreated[@SystemTime>='{utc(9, 5, 0, '000')}' and "
            f"@SystemTime<='{utc(10, 5, 59, '999')}']]]")
    event_case("event tail: since and until become the event query, local time in UTC",
               "action=tail&src=event:System&since=2024-01-15T09:05&until=2024-01-15T10:05",
               event_doc("tail", "System", 200, EXAMPLE_ENTRIES, since="2024-01-15T09:05", until="2024-01-15T10:05"),
               f"qe System /q:{both} /c:200 /rd:true /f:text /uni:true")
    event_case("event search: since alone, to the second",
               "action=search&src=event:Application&q=spooler&since=2024-01-15T09:05:07",
               event_doc("search", "Application", 0, EXAMPLE_ENTRIES[:1], since="2024-01-15T09:05:07",
                         text="spooler", scanned=3),
               f"qe Application /q:*[System[TimeCreated[@SystemTime>='{utc(9, 5, 7, '000')}']]] /c:600 /rd:true "
               "/f:text /uni:true")
    event_case("event tail: until alone, with multiline",
               "action=tail&src=event:System&lines=3&multiline=1&until=2024-01-15T10:05:07",
               event_doc("tail", "System", 3, EXAMPLE_ENTRIES, until="2024-01-15T10:05:07"),
               f"qe System /q:*[System[TimeCreated[@SystemTime<='{utc(10, 5, 7, '999')}']]] /c:3 /rd:true "
               "/f:text /uni:true")
    event_case("event tail without a range asks as before",
               "action=tail&src=event:System&lines=3&since=",
               event_doc("tail", "System", 3, EXAMPLE_ENTRIES), "qe System /c:3 /rd:true /f:text /uni:true")
    event_case("event: a bad until is refused before the tool runs",
               "action=tail&src=event:System&until=2024-01-15T10:5", invalid("until", b"2024-01-15T10:5"),
               "(not run)")
    return result
