"""Entry point, flags, metadata, routing, the password gate, info, units, unknown actions."""
from run import Case, doc, json_str

USAGE = (b"usage: plugin_logs [--meta] [--version] [--help]\n"
         b"  CGI mode reads QUERY_STRING:\n"
         b"    ?action=sources                  readable log sources\n"
         b"    ?action=tail&src=<id>&lines=<N>  last N entries of a source\n"
         b"    ?action=search&src=<id>&q=<text> case-insensitive substring search\n"
         b"    ?action=units                    systemd units with journal entries\n"
         b"    ?action=info                     plugin info\n"
         b"    (no action)                      HTML log viewer\n")
META = b'{"name":"logs","desc":"Log viewer"}\n'
VERSION = b"plugin_logs 1.0.0\n"
REFUSED = (b"Status: 401 Unauthorized\r\n"
           b"Content-Type: application/json; charset=utf-8\r\n"
           b"Cache-Control: no-store\r\n"
           b"X-Content-Type-Options: nosniff\r\n\r\n"
           b'{"ok":false,"error":"invalid node password"}\n')
SUPPORTED = '["sources","tail","search","units","info"]'
UNITS = doc('{"ok":true,"action":"units","available":false,"count":0,"units":[]}')


def info(t, auth=False):
    return doc('{"ok":true,"action":"info","plugin":"plugin_logs","version":"1.0.0","utc":"U",'
               f'"platform":"{t.platform}","limits":{{"lines_max":2000,"search_hits_max":500,'
               f'"search_scan_max":8000}},"supported":{SUPPORTED},"zero_network":true,'
               f'"read_only":true,"node_auth":{"true" if auth else "false"}}}')


def unknown(requested):
    return doc(b'{"ok":false,"error":"unknown_action","supported":' + SUPPORTED.encode() +
               b',"requested":' + json_str(requested) + b'}')


def is_page(out):
    if not out.startswith(b"Content-Type: text/html; charset=utf-8\r\n"):
        return f"not the page: {out[:80]!r}"
    return None


def cases(t, tmp):
    pw = {"ZUN_PASSWORD": "s3cret pw"}
    return [
        # Flags: exact whole-string matches, first recognised one decides.
        Case("--meta prints the metadata line", META, args=["--meta"]),
        Case("--version prints identifier and version", VERSION, args=["--version"]),
        Case("--help prints the usage text", USAGE, args=["--help"]),
        Case("unknown arguments are skipped, first flag decides", VERSION,
             args=["--bogus", "--version", "--help"]),
        Case("--help before --meta", USAGE, args=["--help", "--meta"]),
        Case("--meta before --help", META, args=["--meta", "--help"]),
        Case("--meta=1 is not a flag", info(t), args=["--meta=1"], query="action=info"),
        Case("flags need no password", VERSION, args=["--version"], env=pw),
        Case("WQ_PLUGIN_META empty still answers", META, env={"WQ_PLUGIN_META": ""}),
        Case("WQ_PLUGIN_META needs no password", META, env={"WQ_PLUGIN_META": "1", **pw}),
        # Routing on the raw query string.
        Case("format=json reaches the API without action", unknown(""), query="format=json"),
        Case("transaction=5 routes to the API", unknown(""), query="transaction=5"),
        Case("q=format=json routes to the API", unknown(""), query="q=format=json"),
        Case("routing comes before embed", info(t), query="embed=1&action=info"),
        Case("encoded action= does not route", is_page, query="action%3Dinfo"),
        Case("FORMAT=JSON does not route", is_page, query="FORMAT=JSON"),
        Case("no query string serves the page", is_page),
        Case("empty query string serves the page", is_page, query=""),
        # info, units and unknown actions.
        Case("info without password", info(t), query="action=info"),
        Case("info reports node_auth when the gate is on", info(t, True),
             query="action=info&pwd=s3cret+pw", env=pw),
        Case("empty ZUN_PASSWORD means no gate", info(t), query="action=info",
             env={"ZUN_PASSWORD": ""}),
        Case("info ignores lines", info(t), query="action=info&lines=abc"),
        Case("units without any folder", UNITS, query="action=units"),
        Case("action value is decoded", UNITS, query="action=%75nits"),
        Case("action is case-sensitive", unknown("Info"), query="action=Info"),
        Case("empty action is unknown", unknown(""), query="action="),
        Case("long action is cut to 31 bytes", unknown("a" * 31), query="action=" + "a" * 40),
        Case("control bytes in action are escaped", unknown('x"\\\t\x01'),
             query="action=x%22%5C%09%01"),
        Case("%00 ends the action value", unknown("in"), query="action=in%00fo"),
        Case("an action that is not UTF-8 is echoed with U+FFFD", unknown("x\ufffdy\ufffd"),
             query="action=x%C3y%E2%82"),
        Case("a raw non-ASCII action is cut before a character past 31 bytes", unknown("ж" * 15),
             query="action=" + "ж" * 16),
        Case("first action segment wins", info(t), query="action=info&action=units"),
        Case("huge lines value is harmless", info(t), query="action=info&lines=99999999999999"),
        # The password gate.
        Case("gate refuses without credential", REFUSED, query="action=info", env=pw),
        Case("gate refuses the page too", REFUSED, env=pw),
        Case("gate accepts the header", info(t, True), query="action=info",
             env={**pw, "HTTP_X_ZUN_PASSWORD": "s3cret pw", "HTTP_AUTHORIZATION": "Basic x"}),
        Case("wrong header, right bearer", info(t, True), query="action=info",
             env={**pw, "HTTP_X_ZUN_PASSWORD": "nope", "HTTP_AUTHORIZATION": "  Bearer  s3cret pw"}),
        Case("lower-case bearer is refused", REFUSED, query="action=info",
             env={**pw, "HTTP_AUTHORIZATION": "bearer s3cret pw"}),
        Case("bearer with trailing space is refused", REFUSED, query="action=info",
             env={**pw, "HTTP_AUTHORIZATION": "Bearer s3cret pw "}),
        Case("bearer followed by a tab is refused", REFUSED, query="action=info",
             env={**pw, "HTTP_AUTHORIZATION": "Bearer\ts3cret pw"}),
        Case("pwd with percent-encoded space", info(t, True), query="action=info&pwd=s3cret%20pw",
             env=pw),
        Case("empty pwd is refused", REFUSED, query="action=info&pwd=", env=pw),
        Case("wrong pwd is refused", REFUSED, query="action=info&pwd=s3cret", env=pw),
        Case("pwd longer than 255 bytes cannot match", REFUSED,
             query="action=info&pwd=" + "p" * 300, env={"ZUN_PASSWORD": "p" * 300}),
        Case("long password by header", info(t, True), query="action=info",
             env={"ZUN_PASSWORD": "p" * 300, "HTTP_X_ZUN_PASSWORD": "p" * 300}),
        Case("pwd of 10000 bytes is refused cleanly", REFUSED,
             query="action=info&pwd=" + "x" * 10000, env=pw),
    ]
