"""The viewer page: header block, back-link choice by embed, line feeds, nothing echoed."""
import hashlib
import re

from run import Case

HEADER = (b"Content-Type: text/html; charset=utf-8\r\n"
          b"Cache-Control: no-store\r\n"
          b"X-Content-Type-Options: nosniff\r\n\r\n")
BACK_LINK = (b"<div class='top'><a href='/' style='color:var(--accent);text-decoration:none;"
             b"font-weight:600'>&larr; Back to Zun</a></div>")
BODY_START = b"<body><div class='wrap'>"
# The standalone response is constant; this digest pins it so the Linux and Windows builds
# are held to the same bytes. After a deliberate page change, refresh it with
#   QUERY_STRING= build/linux/plugin_logs | sha256sum
STANDALONE_SHA256 = "92db8a3325315a8c7dc64527409d2a23b41dfd256d5c7269d0884e8cdeb99bec"


def line_feed_problem(body):
    """Line feeds only after the doctype, after each theme script, inside the client script
    and at the very end; no carriage return anywhere."""
    if b"\r" in body:
        return "carriage return in the page"
    if not body.startswith(b"<!DOCTYPE html>\n<html lang='en'><head>"):
        return f"page does not open with the doctype line: {body[:60]!r}"
    if not body.endswith(b"</script></div></body></html>\n"):
        return f"page does not end as expected: {body[-60:]!r}"
    client = body.rfind(b"<script>")
    head, script, tail = body[:client], body[client:-31], body[-31:]
    allowed = [len(b"<!DOCTYPE html>")]
    allowed += [m.end() for m in re.finditer(rb"</script>", head)]
    found = [m.start() for m in re.finditer(rb"\n", head)]
    if found != allowed or len(allowed) != 3:
        return f"line feeds before the client script at {found}, expected {allowed}"
    if script.count(b"\n") < 10:
        return "client script is not written in lines"
    if tail.count(b"\n") != 1:
        return "line feed inside the closing tags"
    return None


def page(embedded):
    def check(out):
        if not out.startswith(HEADER):
            return f"header block differs: {out[:160]!r}"
        body = out[len(HEADER):]
        problem = line_feed_problem(body)
        if problem:
            return problem
        count = body.count(BACK_LINK)
        if embedded and count:
            return "embedded page carries the back link"
        if not embedded and (count != 1 or BODY_START + BACK_LINK not in body):
            return "standalone page lacks the back link at the start of the body"
        standalone = out if not embedded else out.replace(BODY_START, BODY_START + BACK_LINK, 1)
        digest = hashlib.sha256(standalone).hexdigest()
        if digest != STANDALONE_SHA256:
            return f"page bytes changed: sha256 {digest}"
        return None
    return check


MARKUP = ("embed=0&theme=<script>alert(1)</script>&x='\"><img src=x onerror=1>"
          "&pwd=%3Cb%3E&plugin=</script>&node=&lt;&id=7&q=</style>")
# The view the page keeps in its own address, as it writes it: values percent-encoded, so that
# "=" and "&" in a search never read as "action=", "format=json" or a parameter of their own.
VIEW = ("src=file%3AC%3A%5CUsers%5Cx%5Cwendquil%5Capp.log&lines=500&level=err"
        "&q=action%3Dtail%26format%3Djson%26embed%3D1")


def cases(t, tmp):
    standalone, embedded = page(False), page(True)
    rows = [
        ("no query string serves the standalone page", None, standalone),
        ("empty query string serves the standalone page", "", standalone),
        ("embed=1 leaves out the back link", "embed=1", embedded),
        ("embed=true leaves out the back link", "embed=true", embedded),
        ("embed is decoded: %31", "embed=%31", embedded),
        ("embed is decoded: tru%65", "embed=tru%65", embedded),
        ("embed after other parameters", "theme=light&embed=1", embedded),
        ("embed=0 keeps the back link", "embed=0", standalone),
        ("embed=TRUE keeps the back link", "embed=TRUE", standalone),
        ("embed=yes keeps the back link", "embed=yes", standalone),
        ("embed=10 keeps the back link", "embed=10", standalone),
        ("empty embed keeps the back link", "embed=", standalone),
        ("embed cut to 15 bytes keeps the back link", "embed=1" + "0" * 20, standalone),
        ("a value of true cut to 15 bytes keeps the back link", "embed=true" + "%20" * 8,
         standalone),
        ("a query full of markup changes nothing", MARKUP, standalone),
        ("markup with embed=1 changes nothing else", "embed=1&" + MARKUP[8:], embedded),
        ("the view in the address changes nothing", VIEW, standalone),
        ("the view after embed=1 changes nothing else", "embed=1&" + VIEW, embedded),
        ("the view before embed=1 changes nothing else", VIEW + "&embed=1", embedded),
        ("a search for format=json in the view stays the page", "lines=200&q=format%3Djson",
         standalone),
    ]
    return [Case(name, expect, query=query) for name, query, expect in rows]
