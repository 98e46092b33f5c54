#!/usr/bin/env python3
"""The program behind a real Apache httpd (mod_cgid, ScriptAlias) on loopback.

Runs Debian's apache2 with the config of scripts/apache_conf.sh (no site of the system's own)
and checks what a deployment needs: the password in each of its three places, a tail of a log
with a non-ASCII name, its download (headers and bytes), the page, and a query string that
reaches the program unchanged.
Answers are compared with the program's own output for the same request.

usage: apache_test.py PROGRAM
"""
import http.client
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from urllib.parse import quote

REPO = Path(__file__).resolve().parents[2]
# "&", "%", "+" and spaces mean something in a query string; the rest is not Latin-1.
PASSWORD = "Zugang & 100%+ пароль 🔑"
UTC_RE = re.compile(rb'"utc":"[^"]*"')


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def direct(program, env, query):
    """The program's own answer: header block and body, as the CGI host receives them."""
    out = subprocess.run([program], env={**env, "QUERY_STRING": query},
                         capture_output=True, check=True).stdout
    head, _, body = out.partition(b"\r\n\r\n")
    return head, body


class Apache:
    def __init__(self, program):
        # Everything the server's user must reach lives in one world-readable folder, so the
        # checkout's own permissions do not matter.
        self.tmp = Path(tempfile.mkdtemp(prefix="pl_apache."))
        self.tmp.chmod(0o755)
        self.program = self.tmp / "cgi-bin" / "plugin_logs"
        self.program.parent.mkdir()
        shutil.copy(program, self.program)
        self.program.chmod(0o755)
        self.data = self.tmp / "data"
        logs = self.data / "wendquil"
        logs.mkdir(parents=True)
        self.log = logs / "журнал.log"
        self.log.write_text("".join(
            f"2026-12-09T08:00:{i:02d}Z app: line {i} {'error: disk' if i % 5 == 0 else 'ok'}\n"
            for i in range(1, 31)), encoding="utf-8")
        for p in [self.tmp, *self.tmp.rglob("*")]:
            p.chmod(p.stat().st_mode | 0o755 if p.is_dir() else p.stat().st_mode | 0o644)
        self.port = free_port()
        conf = subprocess.run(["bash", str(REPO / "scripts/apache_conf.sh"), str(self.tmp),
                               str(self.port), str(self.program), str(self.data), PASSWORD],
                              capture_output=True, check=True).stdout
        (self.tmp / "httpd.conf").write_bytes(conf)
        self.env = {"LOCALAPPDATA": str(self.data), "USERPROFILE": str(self.tmp / "noprofile"),
                    "ZUN_PASSWORD": PASSWORD, "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        self.proc = subprocess.Popen(["/usr/sbin/apache2", "-f", str(self.tmp / "httpd.conf"),
                                      "-DFOREGROUND"])
        for _ in range(100):
            try:
                self.get("/plugin_logs?action=info")
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("apache2 did not start: " + self.error_log())

    def get(self, target, headers=None):
        status, got_headers, body = self.get_full(target, headers)
        return status, got_headers.get("Content-Type"), body

    def get_full(self, target, headers=None):
        """Status, response headers (name: value as received) and body."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.putrequest("GET", target, skip_accept_encoding=True)
        for k, v in (headers or {}).items():
            conn.putheader(k, v)
        conn.endheaders()
        r = conn.getresponse()
        body = r.read()
        got = dict(r.getheaders())
        conn.close()
        return r.status, got, body

    def error_log(self):
        log = self.tmp / "error.log"
        return log.read_text(errors="replace") if log.exists() else ""

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)


def main():
    program = sys.argv[1]
    server = Apache(program)
    pwd = quote(PASSWORD, safe="")
    utf8 = PASSWORD.encode("utf-8")
    src = quote("file:" + str(server.log), safe="")
    tail_query = f"action=tail&src={src}&lines=3&pwd={pwd}"
    _, tail_body = direct(program, server.env, tail_query)
    _, page_body = direct(program, server.env, f"pwd={pwd}")
    _, refused_body = direct(program, server.env, "action=info")
    info = direct(program, server.env, f"action=info&pwd={pwd}")[1]
    if b'"count":3' not in tail_body or b"line 30" not in tail_body:
        server.stop()
        print(f"apache: the program's own tail is not what the check needs: {tail_body[:300]!r}")
        return 1
    json_type = "application/json; charset=utf-8"
    rows = [
        # name, request target, headers, status, content type, body
        ("no password is refused", "/plugin_logs?action=info", {}, 401, json_type, refused_body),
        ("the password in X-Zun-Password, as UTF-8 bytes", "/plugin_logs?action=info",
         {"X-Zun-Password": utf8}, 200, json_type, info),
        ("the password as a bearer token (CGIPassAuth On)", "/plugin_logs?action=info",
         {"Authorization": b"Bearer " + utf8}, 200, json_type, info),
        ("the password in pwd, its escapes decoded by the program alone",
         f"/plugin_logs?action=info&pwd={pwd}", {}, 200, json_type, info),
        ("a wrong bearer token is refused", "/plugin_logs?action=info",
         {"Authorization": b"Bearer nope"}, 401, json_type, refused_body),
        ("a tail of a log with a non-ASCII name, its identifier percent-encoded",
         "/plugin_logs?" + tail_query, {}, 200, json_type, tail_body),
        ("the page", f"/plugin_logs?pwd={pwd}", {}, 200, "text/html; charset=utf-8", page_body),
    ]
    # The download: the program's own header lines reach the client as they are, and the body
    # is the log's bytes, which Apache passes without a transfer coding of its own.
    download_query = f"action=download&src={src}&pwd={pwd}"
    download_head, download_body = direct(program, server.env, download_query)
    log_bytes = server.log.read_bytes()
    if download_body != log_bytes:
        server.stop()
        print(f"apache: the program's own download is not the log: {download_head!r}")
        return 1
    want_headers = dict(line.decode("latin-1").split(": ", 1) for line in download_head.split(b"\r\n"))
    failed = 0
    try:
        got_status, got_headers, got_body = server.get_full("/plugin_logs?" + download_query)
        problems = []
        if got_status != 200:
            problems.append(f"status {got_status}")
        # Apache may frame a CGI body itself: then it sends it chunked, without the program's
        # Content-Length (mod_cgid does so now and then, whatever the program wrote); the bytes
        # must be the log's either way.
        rechunked = got_headers.get("Transfer-Encoding") == "chunked" and "Content-Length" not in got_headers
        for k, v in want_headers.items():
            if k == "Content-Length" and rechunked:
                continue
            if got_headers.get(k) != v:
                problems.append(f"{k}: {got_headers.get(k)!r}, expected {v!r}")
        if "Transfer-Encoding" in got_headers and not rechunked:
            problems.append(f"Transfer-Encoding {got_headers['Transfer-Encoding']!r}")
        if got_body != log_bytes:
            problems.append(f"body differs: {got_body[:200]!r}")
        if problems:
            failed += 1
            print("FAIL a download of the log with a non-ASCII name: headers and bytes\n  " +
                  "\n  ".join(problems))
        else:
            print("ok   a download of the log with a non-ASCII name: headers and bytes")
        for name, target, headers, status, ctype, body in rows:
            got_status, got_type, got_body = server.get(target, headers)
            problems = []
            if got_status != status:
                problems.append(f"status {got_status}, expected {status}")
            if got_type != ctype:
                problems.append(f"Content-Type {got_type!r}, expected {ctype!r}")
            if UTC_RE.sub(b"U", got_body) != UTC_RE.sub(b"U", body):
                problems.append(f"body differs: {got_body[:300]!r}")
            if problems:
                failed += 1
                print(f"FAIL {name}\n  " + "\n  ".join(problems))
            else:
                print(f"ok   {name}")
        if failed:
            print(server.error_log())
    finally:
        server.stop()
    print(f"apache: {len(rows) + 1 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
