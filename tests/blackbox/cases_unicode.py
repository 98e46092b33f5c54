"""Text beyond ASCII: profile folders and log names in Latin, Cyrillic and Chinese script, ids a
browser sends percent-encoded, a non-ASCII password, and logs that are not UTF-8. Every
document must be UTF-8 (the driver checks each one strictly); a log line that is not UTF-8 is
read from the ANSI code page on Windows (1252 in the locale the driver gives Wine) and shows
U+FFFD for each invalid sequence on Linux."""
import os
from urllib.parse import quote

from cases_catalogue import listing
from cases_reader import entry, filler
from run import Case, doc, json_str

MIB4 = 4194304
USERS = {"José": "überwachung.log", "Пётр": "журнал.log", "李雷": "日志.log"}
PASSWORD = "pässwörd€"
INFO_HEAD = b'{"ok":true,"action":"info"'
REFUSED = b'{"ok":false,"error":"invalid node password"}'


def uri_component(text: str) -> str:
    """The browser's encodeURIComponent: UTF-8, every byte but A-Z a-z 0-9 - _ . ! ~ * ' ( )
    percent-encoded."""
    return quote(text, safe="-_.!~*'()")


def pct(raw: bytes) -> str:
    return "".join("%%%02X" % b for b in raw)


def write(path, data: bytes):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def cases(t, tmp):
    tmp = str(tmp)

    def tail_doc(path, entries, requested=200):
        ident = t.file_id(path)
        return doc(b'{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":' + json_str(ident) +
                   b',"label":' + json_str(os.path.basename(path)) + b',"kind":"file",' +
                   b'"requested":%d,"count":%d,"entries":[' % (requested, len(entries)) +
                   b",".join(entries) + b"]}")

    def search_doc(path, q, scanned, hits):
        ident = t.file_id(path)
        return doc(b'{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":' +
                   json_str(ident) + b',"label":' + json_str(os.path.basename(path)) + b',"q":' +
                   json_str(q) + b',"scanned":%d,"count":%d,"max":500,"truncated":false,"hits":[' %
                   (scanned, len(hits)) + b",".join(hits) + b"]}")

    def tail(path, extra=""):
        return "action=tail&src=" + uri_component(t.file_id(path)) + extra

    def search(path, q):
        return "action=search&src=" + uri_component(t.file_id(path)) + "&q=" + uri_component(q)

    out = []

    # --- Profiles and logs named in three scripts, under either root ------------------------
    lines = {}
    for user, name in USERS.items():
        local = f"{tmp}/Users/{user}/AppData/Local"
        body = (f"2024-03-01T10:00:00Z Grüße von {user}\n"
                f"Jan 05 10:00:00 хост служба[1]: 日志 запись {name}\n").encode()
        files = [write(f"{local}/wendquil/{name}", body), write(f"{local}/wendquil/{user}/{name}", body)]
        rows = [(f, len(body)) for f in files]
        lines[user] = [entry(f"Grüße von {user}", "2024-03-01T10:00:00Z"),
                       entry(f"日志 запись {name}", "Jan 05 10:00:00", "служба[1]")]
        out += [
            Case(f"LOCALAPPDATA in a profile named {user}: its logs are listed",
                 listing(t, rows), query="action=sources", local=local),
            Case(f"USERPROFILE named {user}: its logs are listed",
                 listing(t, rows), query="action=sources", profile=f"{tmp}/Users/{user}"),
            Case(f"both roots in a profile named {user}: each log once",
                 listing(t, rows), query="action=sources", local=local, profile=f"{tmp}/Users/{user}"),
        ]
        for path in files:
            out += [
                Case(f"tail of {path[len(tmp):]} by its encoded id (LOCALAPPDATA)",
                     tail_doc(path, lines[user]), query=tail(path), local=local),
                Case(f"tail of {path[len(tmp):]} by its encoded id (USERPROFILE)",
                     tail_doc(path, lines[user]), query=tail(path), profile=f"{tmp}/Users/{user}"),
            ]
    jose = f"{tmp}/Users/José/AppData/Local/wendquil/überwachung.log"
    jose_local = f"{tmp}/Users/José/AppData/Local"
    out += [
        Case("search for a non-ASCII word", search_doc(jose, "日志", 2, [lines["José"][1]]),
             query=search(jose, "日志"), local=jose_local),
        Case("search for a non-ASCII word folds only ASCII letters",
             search_doc(jose, "gRüße", 2, [lines["José"][0]]), query=search(jose, "gRüße"), local=jose_local),
        Case("search for an uppercase non-ASCII letter does not fold it", search_doc(jose, "grÜße", 2, []),
             query=search(jose, "grÜße"), local=jose_local),
        Case("an id in decomposed form (NFD) is another id", lambda o: None if b"source_not_allowed" in o
             else "accepted", query="action=tail&src=" + uri_component(t.file_id(jose).replace("é", "e\u0301")),
             local=jose_local),
    ]

    # --- The longest id: 598 bytes, every one of them percent-encoded -----------------------
    extra = len(t.path(tmp)) - len(tmp)
    head = f"{tmp}/long/wendquil/" + "ж" * 120 + "/" + "ё" * 120 + "/"
    longest = write(head + "x" * (593 - extra - len(head.encode()) - 4) + ".log", "Длинный путь\n".encode())
    longest_id = t.file_id(longest).encode()
    assert len(longest_id) == 598 and len(uri_component(t.file_id(longest))) > 599
    out += [
        Case("an id of 598 bytes is listed", listing(t, [(longest, len("Длинный путь\n".encode()))]),
             query="action=sources", local=f"{tmp}/long"),
        Case("an id whose encoded form passes 599 bytes is found", tail_doc(longest, [entry("Длинный путь")]),
             query=tail(longest), local=f"{tmp}/long"),
        Case("an id of 598 bytes with every byte percent-encoded is found",
             tail_doc(longest, [entry("Длинный путь")]), query="action=tail&src=" + pct(longest_id),
             local=f"{tmp}/long"),
    ]

    # --- Fullwidth separators are letters, never a way out of the folder --------------------
    fw_root = f"{tmp}/fullwidth"
    write(f"{fw_root}/outside.log", b"outside the root\n")
    fw = write(f"{fw_root}/wendquil/x\uff3c..\uff3c..\uff3coutside\uff0elog.log", b"the fullwidth file\n")
    out += [
        Case("a name with fullwidth backslashes and dots is a name of its own",
             listing(t, [(fw, len(b"the fullwidth file\n"))]), query="action=sources", local=fw_root),
        Case("its tail is its own text", tail_doc(fw, [entry("the fullwidth file")]), query=tail(fw),
             local=fw_root),
    ]

    # --- A non-ASCII node password ------------------------------------------------------------
    pw = {"ZUN_PASSWORD": PASSWORD}

    def info_ok(o):
        return None if INFO_HEAD in o and b'"node_auth":true' in o else f"not let through: {o[-200:]!r}"

    def refused(o):
        return None if o.endswith(REFUSED + b"\n") and o.startswith(b"Status: 401") else f"not refused: {o[-200:]!r}"
    out += [
        Case("a non-ASCII password sent as pwd passes", info_ok,
             query="action=info&pwd=" + uri_component(PASSWORD), env=pw),
        Case("a non-ASCII password in the header passes", info_ok, query="action=info",
             env={**pw, "HTTP_X_ZUN_PASSWORD": PASSWORD}),
        Case("a non-ASCII password as bearer token passes", info_ok, query="action=info",
             env={**pw, "HTTP_AUTHORIZATION": "Bearer " + PASSWORD}),
        Case("the password in the ANSI code page is refused", refused,
             query="action=info&pwd=" + pct(PASSWORD.encode("cp1252")), env=pw),
        Case("a wrong non-ASCII password is refused", refused,
             query="action=info&pwd=" + uri_component("pässwörd$"), env=pw),
        Case("a non-ASCII password in a wrong header is refused", refused, query="action=info",
             env={**pw, "HTTP_X_ZUN_PASSWORD": "passwörd€"}),
    ]
    # The page sends a non-ASCII password only as pwd, where every byte costs three: a password
    # of up to 255 bytes must still arrive whole, one of more still cannot match.
    long_pw = "пароль" * 21 + "€"  # 255 bytes
    over_pw = long_pw + "ж"
    out += [
        Case("a 255-byte non-ASCII password sent as pwd passes", info_ok,
             query="action=info&pwd=" + uri_component(long_pw), env={"ZUN_PASSWORD": long_pw}),
        Case("a 257-byte non-ASCII password cannot match through pwd", refused,
             query="action=info&pwd=" + uri_component(over_pw), env={"ZUN_PASSWORD": over_pw}),
        Case("a 257-byte non-ASCII password passes in the header", info_ok, query="action=info",
             env={"ZUN_PASSWORD": over_pw, "HTTP_X_ZUN_PASSWORD": over_pw}),
    ]

    # --- Logs that are not UTF-8 ----------------------------------------------------------------
    enc = f"{tmp}/enc/wendquil"

    def shown(raw: bytes) -> str:
        """A line that is not UTF-8 as this build shows it."""
        return raw.decode("cp1252") if t.kind == "wine" else raw.decode("utf-8", "replace")

    ansi = write(enc + "/ansi.log", b"Gr\xfc\xdfe aus K\xf6ln\n"
                                    b"2024-03-01T10:00:00Z Caf\xe9 ge\xf6ffnet\n"
                                    b"Jan 05 10:00:00 host Dienst\xe9[1]: Stra\xdfe gesperrt\n")
    ansi_entries = [entry(shown(b"Gr\xfc\xdfe aus K\xf6ln")),
                    entry(shown(b"Caf\xe9 ge\xf6ffnet"), "2024-03-01T10:00:00Z"),
                    entry(shown(b"Stra\xdfe gesperrt"), "Jan 05 10:00:00", shown(b"Dienst\xe9[1]"))]
    bad = write(enc + "/bad.log", b"bad \xff\xfe\xc0\x80 \xed\xa0\x80 end\n"
                                  b"cut \xe2\x82\n"
                                  b"mixed caf\xc3\xa9 and \xe9t\xe9\n"
                                  b"valid caf\xc3\xa9\n")
    bad_entries = [entry(shown(b"bad \xff\xfe\xc0\x80 \xed\xa0\x80 end")), entry(shown(b"cut \xe2\x82")),
                   entry(shown(b"mixed caf\xc3\xa9 and \xe9t\xe9")), entry("valid café")]
    # A line of 3000 bytes of Cyrillic: its first chunk ends on a whole character and the next
    # begins with one, so neither entry shows half of one.
    cyr = write(enc + "/cyrillic.log", ("ж" * 1500 + "\n").encode())
    out += [
        Case("Windows-1252 lines: decoded on Windows, U+FFFD on Linux", tail_doc(ansi, ansi_entries),
             query=tail(ansi), local=f"{tmp}/enc"),
        Case("search finds Windows-1252 text by its UTF-8 form on Windows only",
             search_doc(ansi, "grüße", 3, ansi_entries[:1] if t.kind == "wine" else []),
             query=search(ansi, "grüße"), local=f"{tmp}/enc"),
        Case("invalid and cut UTF-8 sequences", tail_doc(bad, bad_entries), query=tail(bad),
             local=f"{tmp}/enc"),
        Case("a long Cyrillic line is cut between characters",
             tail_doc(cyr, [entry("ж" * 511), entry("ж" * 477)]), query=tail(cyr), local=f"{tmp}/enc"),
    ]

    # The window starts one byte into the file: inside the first character of a UTF-8 line,
    # whose broken rest is dropped, or of a line in another encoding, which keeps its bytes.
    for name, first, word, want in (
            ("window_utf8.log", "ж маркер".encode(), "маркер", " маркер"),
            ("window_ansi.log", b"\xc3\xa9\xe9t\xe9 marqueur", "marqueur", shown(b"\xa9\xe9t\xe9 marqueur"))):
        path = write(f"{enc}/{name}", first + b"\n" + filler(MIB4 - len(first)))
        out.append(Case(f"a window that starts inside a character ({name})",
                        search_doc(path, word, 8000, [entry(want)]), query=search(path, word),
                        local=f"{tmp}/enc"))
    return out
