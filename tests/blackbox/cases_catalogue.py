"""The source catalogue: discovery under both roots, the sources document, the allowlist lookup.

Every tree is made here, under tmp. The order of rows within a folder is the platform's
enumeration order, which differs between the builds, so file rows are compared as sets and
the document is checked byte for byte around them in the order the program gave.
"""
import json
import os
from urllib.parse import quote

from run import JSON_HEADER, Case, doc, echo, json_str

EVENT_ROWS = ('{"id":"event:System","label":"Windows System log","kind":"event","size":0,"mtime":0},'
              '{"id":"event:Application","label":"Windows Application log","kind":"event","size":0,'
              '"mtime":0}')
REFUSAL_HEAD = ('{"ok":false,"error":"source_not_allowed","message":"that path is not in this plugin\'s '
                'read allowlist; call action=sources for the current list","requested":')
BIG_ENTRIES = 39990  # one unit short of 40000 leaves room for exactly nine more entries
BIG_LOGS = 10


def mk(path, size=0):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        if size:
            f.truncate(size)  # sparse: costs no disk
    return path


def many(folder, names):
    """Creates empty files fast: the budget trees hold tens of thousands."""
    os.makedirs(folder, exist_ok=True)
    for name in names:
        os.close(os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY, 0o644))
    return [os.path.join(folder, n) for n in names]


def label_of(text):
    return text[max(text.rfind("/"), text.rfind("\\")) + 1:]


def mtime_of(path):
    """A file's modification time as the program lists it: whole seconds since 1970, rounded
    down, links followed."""
    return os.stat(path).st_mtime_ns // 10 ** 9


def linux_path_of(ident):
    """The Linux path a file id names on either build."""
    path = ident[len("file:"):]
    if path.startswith("Z:"):
        path = path[2:].replace("\\", "/")
    return path


def sources_doc(file_rows, truncated):
    """The exact sources document for file rows (id, label, size, mtime) in the order given."""
    body = (b'{"ok":true,"action":"sources","plugin":"plugin_logs","utc":"U","journal_available":false,'
            b'"count":%d,"truncated":%s,"sources":[' % (2 + len(file_rows), b"true" if truncated else b"false"))
    body += EVENT_ROWS.encode()
    for ident, label, size, mtime in file_rows:
        body += (b',{"id":' + json_str(ident) + b',"label":' + json_str(label) +
                 b',"kind":"file","size":%d,"mtime":%d}' % (size, mtime))
    return doc(body + b"]}")


def parse_sources(out):
    """The file rows of a sources document and its truncated flag, after checking that the
    document is exactly what those rows give; or an error text."""
    if not out.startswith(JSON_HEADER):
        return None, None, f"no JSON header: {out[:120]!r}"
    try:
        body = json.loads(out[len(JSON_HEADER):].decode("utf-8", "surrogateescape"))
        rows = [(r["id"], r["label"], r["size"], r["mtime"]) for r in body["sources"][2:]]
        truncated = body["truncated"]
    except (ValueError, KeyError, TypeError) as e:
        return None, None, f"not a sources document ({e}): {out[:300]!r}"
    want = sources_doc(rows, truncated)
    if out != want:
        i = next((k for k in range(min(len(out), len(want))) if out[k] != want[k]), min(len(out), len(want)))
        return None, None, (f"document differs at byte {i}:\n  expected: {want[max(0, i - 80):i + 120]!r}"
                            f"\n  got:      {out[max(0, i - 80):i + 120]!r}")
    return rows, truncated, None


def listing(t, files=None, truncated=False, count=None, among=None, check=None):
    """Expects a sources document whose file rows are exactly `files` (Linux paths, or
    (path, size) pairs) in any order; or, where the order decides which files fit, `count`
    rows all taken from the identifiers `among`. Every row's mtime must be its file's. check(rows)
    tests what a set cannot say."""
    want = None
    if files is not None:
        want = set()
        for f in files:
            path, size = f if isinstance(f, tuple) else (f, 0)
            ident = t.file_id(path)
            want.add((ident, label_of(ident)[:95], size))

    def expect(out):
        rows, trunc, err = parse_sources(out)
        if err:
            return err
        if trunc != truncated:
            return f"truncated is {trunc}, expected {truncated}"
        if len(set(rows)) != len(rows):
            return "a source is listed twice"
        got = {r[:3] for r in rows}
        if want is not None and got != want:
            missing = sorted(want - got)[:5]
            extra = sorted(got - want)[:5]
            return f"rows differ: missing {missing}, unexpected {extra}"
        for ident, _, _, mtime in rows:
            if mtime != mtime_of(linux_path_of(ident)):
                return f"mtime of {ident} is {mtime}, expected {mtime_of(linux_path_of(ident))}"
        if count is not None and len(rows) != count:
            return f"{len(rows)} file rows, expected {count}"
        if among is not None and not {r[0] for r in rows} <= among:
            return f"rows not in the tree: {sorted({r[0] for r in rows} - among)[:3]}"
        return check(rows) if check else None
    return expect


def refused(src):
    """The refusal for a src given as bytes: at most its first 31 bytes echoed."""
    return doc(REFUSAL_HEAD.encode() + json_str(echo(src)) + b"}")


def src_query(action, src, extra=""):
    if isinstance(src, str):
        src = src.encode("utf-8", "surrogateescape")
    return f"action={action}{extra}&src=" + quote(src, safe="")


def accepted(src, named=True):
    """The lookup found the row: whatever the reader made of it, it is not a refusal."""
    def expect(out):
        if not out.startswith(JSON_HEADER):
            return f"no JSON header: {out[:120]!r}"
        if b'"source_not_allowed"' in out:
            return f"refused: {out[len(JSON_HEADER):][:200]!r}"
        if named and json_str(src) not in out:
            return f"the response does not name {src!r}: {out[len(JSON_HEADER):][:200]!r}"
        return None
    return expect


def cases(t, tmp):
    tmp = str(tmp)
    out = []

    # --- Roots: which are walked ------------------------------------------------------
    none_doc = sources_doc([], False)
    mk(tmp + "/rootfile/wendquil")  # a file where the folder should be
    os.makedirs(tmp + "/bare", exist_ok=True)
    out += [
        Case("neither root set: the two event logs only", none_doc, query="action=sources"),
        Case("empty LOCALAPPDATA is not walked", none_doc, query="action=sources", local_raw=""),
        Case("missing wendquil folders add nothing", none_doc, query="action=sources",
             local=tmp + "/bare", profile=tmp + "/absent"),
        Case("a root that is a file adds nothing", none_doc, query="action=sources",
             local=tmp + "/rootfile"),
        Case("sources ignores src", none_doc, query="action=sources&src=event:Nope"),
        # A root that does not fit the path buffer would be cut into another folder's name.
        Case("over-long root variables are not walked", none_doc, query="action=sources",
             local_raw="/" + "L" * 1100, profile_raw="/" + "P" * 1100),
    ]

    # --- The name rule ----------------------------------------------------------------
    names = tmp + "/names/wendquil"
    listed = [mk(names + "/app.log", 6), mk(names + "/x.log"), mk(names + "/.hidden.log"),
              mk(names + "/old.log/inner.log", 3)]
    for n in ("APP.LOG", "a.Log", "app.log.1", ".log", "log", "applog", "app.txt", "app.log.bak/q.txt"):
        mk(names + "/" + n)
    out.append(Case("only names longer than 4 ending in .log, case-sensitive; folders entered",
                    listing(t, [(listed[0], 6), listed[1], listed[2], (listed[3], 3)]),
                    query="action=sources", local=tmp + "/names"))

    # --- Depth --------------------------------------------------------------------------
    depth = tmp + "/depth/wendquil"
    levels = [depth + "/top.log"]
    d = depth
    for part in "abcd":
        d += "/" + part
        levels.append(d + f"/{part}.log")
    too_deep = [d + "/e/e.log", d + "/e/f/f.log"]
    for p in levels + too_deep:
        mk(p)
    out += [
        Case("files down to four levels below the root are found, five are not",
             listing(t, levels), query="action=sources", local=tmp + "/depth"),
        Case("a file below the walk's depth is refused",
             refused(t.file_id(too_deep[0]).encode()),
             query=src_query("tail", t.file_id(too_deep[0])), local=tmp + "/depth"),
    ]

    # --- Depth-first order: each folder's files come together --------------------------
    order = tmp + "/order/wendquil"
    groups = {"a": [mk(order + "/a/1.log"), mk(order + "/a/s/2.log")],
              "b": [mk(order + "/b/3.log"), mk(order + "/b/t/4.log")]}
    loose = mk(order + "/c.log")

    def depth_first(rows):
        ids = [r[0] for r in rows]
        for name, paths in groups.items():
            at = sorted(ids.index(t.file_id(p)) for p in paths)
            if at[-1] - at[0] != len(at) - 1:
                return f"the files under {name} are not listed together: {ids}"
        return None
    out.append(Case("a subfolder is walked when met (depth-first)",
                    listing(t, groups["a"] + groups["b"] + [loose], check=depth_first),
                    query="action=sources", local=tmp + "/order"))
    if t.kind == "linux":
        out.append(Case("rows follow the directory enumeration order",
                        sources_doc(enumeration_order(order), False), query="action=sources",
                        local=tmp + "/order", targets=("linux",)))

    # --- The table: 256 rows ------------------------------------------------------------
    many_ids = {t.file_id(p) for p in many(tmp + "/many/wendquil", [f"m{i:03d}.log" for i in range(300)])}
    over_ids = {t.file_id(p) for p in many(tmp + "/over/wendquil", [f"o{i:03d}.log" for i in range(255)])}
    full = many(tmp + "/full/AppData/Local/wendquil", [f"f{i:03d}.log" for i in range(254)])
    mk(tmp + "/one/AppData/Local/wendquil/one.log")
    full_local = tmp + "/full/AppData/Local"
    out += [
        Case("300 files: 254 file rows and truncated", listing(t, truncated=True, count=254, among=many_ids),
             query="action=sources", local=tmp + "/many"),
        Case("exactly 254 files fill the table without truncated",
             listing(t, full), query="action=sources", local=full_local),
        Case("255 files: 254 file rows and truncated", listing(t, truncated=True, count=254, among=over_ids),
             query="action=sources", local=tmp + "/over"),
        Case("254 files under byte-identical roots: walked once, not truncated",
             listing(t, full), query="action=sources", local=full_local, profile=tmp + "/full"),
        Case("254 files only under the second root", listing(t, full), query="action=sources",
             profile=tmp + "/full"),
        Case("254 files in the first root and one more in the second: truncated",
             listing(t, full, truncated=True), query="action=sources", local=full_local,
             profile=tmp + "/one"),
        Case("254 files under roots spelt differently: walked twice, truncated",
             listing(t, full, truncated=True), query="action=sources", local=full_local,
             profile=tmp + "/full/."),
    ]

    # --- Both roots -------------------------------------------------------------------
    both = tmp + "/both"
    shared = [mk(both + "/AppData/Local/wendquil/s.log"), mk(both + "/AppData/Local/wendquil/d/t.log")]
    second = mk(tmp + "/second/AppData/Local/wendquil/p.log")
    spelt = [both + "/./AppData/Local/wendquil/s.log", both + "/./AppData/Local/wendquil/d/t.log"]
    out += [
        Case("byte-identical roots list each file once", listing(t, shared), query="action=sources",
             local=both + "/AppData/Local", profile=both),
        Case("the same folder spelt two ways gives two rows per file", listing(t, shared + spelt),
             query="action=sources", local=both + "/AppData/Local", profile=both + "/."),
        Case("two different roots are both walked", listing(t, shared + [second]),
             query="action=sources", local=both + "/AppData/Local", profile=tmp + "/second"),
        Case("the other spelling of a listed file is refused", refused(t.file_id(spelt[0]).encode()),
             query=src_query("tail", t.file_id(spelt[0])), local=both + "/AppData/Local", profile=both),
    ]

    # --- The entry budget: 40000 over both roots ----------------------------------------
    big_local = tmp + "/big/AppData/Local"
    big_dir = big_local + "/wendquil"
    big_logs = many(big_dir, [f"b{i}.log" for i in range(BIG_LOGS)])
    many(big_dir, [f"e{i:05d}" for i in range(BIG_ENTRIES - BIG_LOGS)])
    nine = many(tmp + "/nine/AppData/Local/wendquil", [f"n{i}.log" for i in range(9)])
    ten = many(tmp + "/ten/AppData/Local/wendquil", [f"t{i}.log" for i in range(10)])
    ten_ids = {t.file_id(p) for p in ten}
    big_ids = {t.file_id(p) for p in big_logs}

    def big_then(among, exactly=None, at_most=None):
        """All files of the big first root, then some of `among` from the second walk."""
        def check(rows):
            ids = {r[0] for r in rows}
            if not big_ids <= ids:
                return f"files of the first root missing: {sorted(big_ids - ids)[:3]}"
            later = ids - big_ids
            if not later <= among:
                return f"unexpected rows: {sorted(later - among)[:3]}"
            if exactly is not None and len(later) != exactly:
                return f"{len(later)} files of the second walk listed, expected {exactly}"
            if at_most is not None and len(later) > at_most:
                return f"{len(later)} files of the second walk listed, at most {at_most} expected"
            return None
        return check
    big_spelt = {t.file_id(tmp + "/big/./AppData/Local/wendquil/" + os.path.basename(p)) for p in big_logs}
    out += [
        Case("39990 entries are all examined", listing(t, big_logs), query="action=sources",
             local=big_local, timeout=120),
        Case("39999 entries over both roots are all examined", listing(t, big_logs + nine),
             query="action=sources", local=big_local, profile=tmp + "/nine", timeout=120),
        # Nine units are left for the second root: its tenth entry ends the walk.
        Case("the 40000th entry ends the walk unexamined",
             listing(t, truncated=True, check=big_then(ten_ids, exactly=9)),
             query="action=sources", local=big_local, profile=tmp + "/ten", timeout=120),
        Case("a big folder named twice byte-identically is walked once", listing(t, big_logs),
             query="action=sources", local=big_local, profile=tmp + "/big", timeout=120),
        Case("a big folder named twice in two spellings runs out of budget",
             listing(t, truncated=True, check=big_then(big_spelt, at_most=9)),
             query="action=sources", local=big_local, profile=tmp + "/big/.", timeout=120),
    ]

    # --- Names, sizes, lengths --------------------------------------------------------
    lab = tmp + "/label/wendquil"
    long_name = mk(lab + "/" + "n" * 116 + ".log")
    sparse = mk(tmp + "/sparse/wendquil/huge.log", 5 * 1024 ** 3)
    out += [
        Case("a 120-character name: label cut to 95, identifier whole", listing(t, [long_name]),
             query="action=sources", local=tmp + "/label"),
        Case("a 5 GiB file is listed with its full 64-bit size", listing(t, [(sparse, 5 * 1024 ** 3)]),
             query="action=sources", local=tmp + "/sparse"),
    ]
    # --- Modification times: seconds since 1970 UTC, 64-bit ------------------------------
    stamps = {"recent.log": 1700000000, "y2100.log": 4102444800, "y1969.log": -31536000,
              "epoch.log": 0, "y2038.log": 2 ** 31}
    for name, stamp in stamps.items():
        os.utime(mk(tmp + "/times/wendquil/" + name, 3), (stamp, stamp))

    def exact_times(rows):
        got = {label: mtime for _, label, _, mtime in rows}
        return None if got == stamps else f"mtimes {got}, expected {stamps}"
    out.append(Case("mtime is the modification time, before 1970 and after 2038 too",
                    listing(t, [(tmp + "/times/wendquil/" + n, 3) for n in stamps], check=exact_times),
                    query="action=sources", local=tmp + "/times"))
    out += linux_only_trees(t, tmp)
    out += path_limit_trees(t, tmp)

    # --- Links: a linked folder inside is a folder, and a loop is bounded by the depth --
    # (links that lead out of the root: cases_links.py)
    links = tmp + "/links/wendquil"
    os.makedirs(links, exist_ok=True)
    mk(links + "/x.log")
    mk(tmp + "/links/elsewhere/r.log")
    os.symlink(links, links + "/loop")
    os.symlink(tmp + "/links/elsewhere", links + "/linked")
    looped = [links + "/loop" * k + "/x.log" for k in range(5)]
    out.append(Case("a link to a folder inside the root is walked; a loop stops at the depth",
                    listing(t, looped), query="action=sources", local=tmp + "/links"))

    # --- The lookup -------------------------------------------------------------------
    out += lookup_cases(t, tmp)
    return out


def enumeration_order(root, depth=4):
    """The walk as the Linux build does it: readdir order, folders entered when met."""
    rows = []
    for name in os.listdir(root):  # readdir order, as the program sees it
        path = root + "/" + name
        if os.path.isdir(path):
            if depth:
                rows += enumeration_order(path, depth - 1)
        elif len(name) > 4 and name.endswith(".log"):
            rows.append(("file:" + path, name, os.path.getsize(path), mtime_of(path)))
    return rows


def linux_only_trees(t, tmp):
    """Trees the Windows build cannot be shown: names Windows forbids, names that are not
    UTF-8, and special files."""
    if t.kind != "linux":
        return []
    odd = tmp + "/odd/wendquil"
    weird = [mk(odd + '/we"ird\ttab\x01.log'), mk(odd + "/back\\slash.log")]
    os.mkfifo(odd + "/pipe.log")
    os.symlink("/dev/zero", odd + "/zero.log")
    os.symlink(odd + "/absent", odd + "/dangling.log")
    # Names that are not UTF-8 cannot stand in a document, nor come back from one.
    latin1 = b"\xe9".decode("utf-8", "surrogateescape")
    mk(odd + "/caf" + latin1 + ".log")
    mk(odd + "/dossier-" + latin1 + "/inner.log")
    return [
        Case("quotes and control bytes in names are escaped; label after a backslash; names that "
             "are not UTF-8 are left out and such folders not entered",
             listing(t, weird), query="action=sources", local=tmp + "/odd", targets=("linux",)),
        Case("a file named with quote and tab is found by its identifier", accepted(t.file_id(weird[0])),
             query=src_query("tail", t.file_id(weird[0]), "&lines=1"), local=tmp + "/odd",
             targets=("linux",)),
        Case("a FIFO or device named .log is refused", refused(t.file_id(odd + "/pipe.log").encode()),
             query=src_query("tail", t.file_id(odd + "/pipe.log")), local=tmp + "/odd",
             targets=("linux",)),
    ]


def path_limit_trees(t, tmp):
    """The walk's bounds on the length of a path, in bytes of the path as the program forms it:
    far beyond the 259 characters at which plain Windows file calls stop."""
    extra = len(t.path(tmp)) - len(tmp)  # "Z:" under Wine
    # Paths of 593 characters fit an identifier ("file:" + path, at most 599 bytes); 594 do not.
    lng = tmp + "/lng/wendquil"
    base = lng + "/" + "a" * 200 + "/" + "b" * (500 - len(lng) - 202 - extra)
    fits = mk(base + "/" + "f" * (593 - 500 - 1 - 4) + ".log")
    over = mk(base + "/" + "o" * (594 - 500 - 1 - 4) + ".log")
    assert len(t.path(fits)) == 593 and len(t.path(over)) == 594
    # Folders past the 1024-byte path buffer: skipped, never cut.
    deep = tmp + "/deep/wendquil"
    d = deep
    deep_files = []
    for i in range(5):
        d += "/" + chr(ord("a") + i) * 250
        deep_files.append(mk(d + "/x.log"))
    near = [p for p in deep_files if len(t.path(p)) <= 593]
    return [
        Case("paths up to 593 characters are listed, 594 are not", listing(t, [fits]),
             query="action=sources", local=tmp + "/lng"),
        Case("the 593-character path is read", accepted(t.file_id(fits)),
             query=src_query("tail", t.file_id(fits)), local=tmp + "/lng"),
        Case("the 594-character path is refused", refused(t.file_id(over).encode()),
             query=src_query("tail", t.file_id(over)), local=tmp + "/lng"),
        Case("folders beyond the path buffer are skipped whole", listing(t, near),
             query="action=sources", local=tmp + "/deep"),
    ]


def lookup_cases(t, tmp):
    root = tmp + "/ids/wendquil"
    app = mk(root + "/app.log")
    cased = mk(root + "/App.log")
    one, two = mk(root + "/app1.log"), mk(root + "/app2.log")
    mk(root + "/notes.txt")
    mk(root + "/sub/inner.log")
    outside = mk(tmp + "/ids/outside.log")
    env = {"local": tmp + "/ids"}
    app_id = t.file_id(app)

    # Every identifier the catalogue holds is found, each exactly.
    out = [Case(f"listed source is read: {os.path.basename(p)}", accepted(t.file_id(p)),
                query=src_query("tail", t.file_id(p), "&lines=1"), **env)
           for p in (app, cased, one, two, root + "/sub/inner.log")]
    out += [
        Case("event:System is found", accepted("event:System", named=False),
             query=src_query("search", "event:System", "&q="), **env),
        Case("event:Application is found", accepted("event:Application", named=False),
             query=src_query("search", "event:Application", "&q="), **env),
        Case("search finds a listed file", accepted(app_id), query=src_query("search", app_id, "&q=x"), **env),
    ]

    drive_case = app_id
    if t.kind == "wine":
        drive_case = "file:z:" + app_id[7:]
    near_misses = [
        ("a character added", app_id + "x"),
        ("the last character cut", app_id[:-1]),
        ("a trailing dot", app_id + "."),
        ("a trailing space", app_id + " "),
        ("a trailing separator", app_id + t.sep),
        ("the name in other case", app_id[:-7] + "APP.LOG"),
        ("the folder in other case", app_id.replace("wendquil", "Wendquil")),
        ("the drive letter in other case", drive_case),
        ("forward slashes", app_id.replace("\\", "/") if t.kind == "wine" else app_id.replace("/", "//")),
        ("a doubled separator", app_id.replace(t.sep + "app.log", t.sep + t.sep + "app.log")),
        ("a dot folder", app_id.replace(t.sep + "app.log", t.sep + "." + t.sep + "app.log")),
        ("a .. step", app_id.replace(t.sep + "app.log", t.sep + "sub" + t.sep + ".." + t.sep + "app.log")),
        ("no file: prefix", t.path(app)),
        ("an upper-case prefix", "FILE:" + t.path(app)),
        ("an event prefix on a path", "event:" + t.path(app)),
        ("a file outside the roots", t.file_id(outside)),
        ("a file that does not qualify", t.file_id(root + "/notes.txt")),
        ("the root folder itself", t.file_id(root)),
        ("a system file", t.file_id("/etc/passwd")),
        ("another drive", "file:C:\\windows\\win.ini"),
        ("a short 8.3 name", t.file_id(root + "/APP~1.LOG")),
        ("event:system", "event:system"),
        ("event:Security", "event:Security"),
        ("event:Setup", "event:Setup"),
        ("event: alone", "event:"),
        ("event:System with a space", "event:System "),
        ("event:Applicatio", "event:Applicatio"),
        ("an event prefix in capitals", "EVENT:System"),
        ("a bare log name", "System"),
        ("a quote and control bytes", 'a"b\\c\td\x01e'),
    ]
    for what, src in near_misses:
        if src == app_id:
            continue
        b = src.encode("utf-8", "surrogateescape")
        out.append(Case(f"refused: {what}", refused(b), query=src_query("tail", b), **env))
    out += [
        Case("tail without src is refused", refused(b""), query="action=tail", **env),
        Case("tail with an empty src is refused", refused(b""), query="action=tail&src=", **env),
        Case("a long src is echoed cut to 31 bytes", refused(b"q" * 40), query="action=tail&src=" + "q" * 40),
        Case("the echo ends before a character that would pass 31 bytes", refused(b"a" * 30 + b"\xc3\xa9"),
             query="action=tail&src=" + "a" * 30 + "%C3%A9"),
        Case("the echo shows bytes that are not UTF-8 as U+FFFD", refused(b"\xff\xe2\x82!\xc3\xa9"),
             query="action=tail&src=%FF%E2%82!%C3%A9"),
        Case("search with an unlisted src and no q is refused first", refused(b"event:Nope"),
             query="action=search&src=event:Nope&q="),
        Case("src is decoded before the lookup: + is a space", refused(b"event:System "),
             query="action=tail&src=event:System+"),
        Case("an encoded identifier is found", accepted(app_id),
             query=src_query("tail", app_id, "&lines=1"), **env),
    ]
    return out
