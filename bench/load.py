"""The viewer's polling pattern at scale through a real web server; see load.sh."""
import http.client
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

CLIENTS = 50
PERIOD = 0.1
LINES_PER_SECOND = 1000
HEADER_TYPE = "application/json; charset=utf-8"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_config(tmp: Path, program: Path, local: Path, port: int) -> Path:
    www = tmp / "www"
    www.mkdir()
    shutil.copy(program, www / "plugin_logs")
    conf = tmp / "lighttpd.conf"
    conf.write_text(f"""
server.modules += ( "mod_cgi", "mod_setenv" )
server.document-root = "{www}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{tmp}/error.log"
server.max-connections = 512
server.http-parseopts = ( "url-normalize" => "disable" )
$HTTP["url"] =~ "^/plugin_logs" {{
  cgi.assign = ( "" => "" )
}}
setenv.add-environment = ( "LOCALAPPDATA" => "{local}" )
""")
    return conf


def writer(log: Path, stop: threading.Event, seconds: float, events: list):
    """Appends LINES_PER_SECOND lines a second in tenths; rotates at one and two thirds."""
    rotations = [seconds / 3, 2 * seconds / 3]
    start = time.monotonic()
    n = 0
    f = open(log, "ab")
    while not stop.is_set():
        if rotations and time.monotonic() - start >= rotations[0]:
            rotations.pop(0)
            f.close()
            os.replace(log, log.with_name(log.name + f".{len(events) + 1}"))
            events.append(time.monotonic())
            f = open(log, "ab")
        batch = b"".join(b"2024-01-02T03:04:05Z load line %d with some text to read\n" % (n + i)
                         for i in range(LINES_PER_SECOND // 10))
        n += LINES_PER_SECOND // 10
        f.write(batch)
        f.flush()
        time.sleep(0.1)
    f.close()


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.latencies = []
        self.unreadable = []
        self.failures = []


def client(port: int, path: str, stop: threading.Event, stats: Stats):
    conn = None
    next_at = time.monotonic()
    while not stop.is_set():
        now = time.monotonic()
        if now < next_at:
            time.sleep(next_at - now)
        next_at += PERIOD
        t0 = time.monotonic()
        problem = None
        try:
            if conn is None:
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            conn.request("GET", path)
            res = conn.getresponse()
            body = res.read()
            if res.getheader("Connection", "").lower() == "close":
                conn.close()
                conn = None
        except (OSError, http.client.HTTPException) as e:
            problem = f"transport: {e!r}"
            if conn is not None:
                conn.close()
            conn = None
        t1 = time.monotonic()
        unreadable = False
        if problem is None:
            if res.status != 200 or res.getheader("Content-Type") != HEADER_TYPE:
                problem = f"status {res.status} {res.getheader('Content-Type')}"
            elif not body.endswith(b"\n") or b"\n" in body[:-1]:
                problem = f"not one line: {body[:120]!r}"
            else:
                try:
                    d = json.loads(body)
                except ValueError as e:
                    d = None
                    problem = f"does not parse: {e}"
                if d is not None and d.get("ok") is not True:
                    if d.get("error") == "unreadable_source":
                        unreadable = True
                    else:
                        problem = f"error document: {body[:200]!r}"
        with stats.lock:
            stats.latencies.append(t1 - t0)
            if unreadable:
                stats.unreadable.append(t0)
            if problem:
                stats.failures.append(problem)
        if next_at < time.monotonic():
            next_at = time.monotonic()
    if conn is not None:
        conn.close()


def leftover(www: Path) -> list:
    """Processes still running (or unreaped) from the copied program."""
    out = subprocess.run(["ps", "-eo", "pid,stat,args"], capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if str(www / "plugin_logs") in line]


def main():
    program = Path(sys.argv[1]).resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    tmp = Path(tempfile.mkdtemp(prefix="pl_load_", dir="/tmp"))
    server = None
    try:
        local = tmp / "local"
        root = local / "wendquil"
        root.mkdir(parents=True)
        log = root / "app.log"
        log.write_bytes(b"")
        port = free_port()
        conf = write_config(tmp, program, local, port)
        server = subprocess.Popen(["lighttpd", "-D", "-f", str(conf)])
        for _ in range(50):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        src = "file:" + str(log)
        path = "/plugin_logs?action=tail&lines=200&src=" + "".join("%%%02X" % b for b in src.encode())

        stop = threading.Event()
        stats = Stats()
        rotations = []
        threads = [threading.Thread(target=writer, args=(log, stop, seconds, rotations))]
        threads += [threading.Thread(target=client, args=(port, path, stop, stats)) for _ in range(CLIENTS)]
        t_start = time.monotonic()
        for th in threads:
            th.start()
        time.sleep(seconds)
        stop.set()
        for th in threads:
            th.join()
        elapsed = time.monotonic() - t_start
        time.sleep(1)
        left = leftover(tmp / "www")

        lat = sorted(stats.latencies)
        n = len(lat)
        p50 = lat[n // 2] * 1000 if n else 0
        p99 = lat[min(n - 1, int(n * 0.99))] * 1000 if n else 0
        # An unreadable answer is expected only within a second of a rotation.
        stray = [u for u in stats.unreadable if not any(-1 <= u - r <= 1 for r in rotations)]
        print(f"requests: {n} in {elapsed:.1f} s = {n / elapsed:.0f} per second "
              f"(asked for {CLIENTS / PERIOD:.0f})")
        print(f"latency: median {p50:.1f} ms, 99th percentile {p99:.1f} ms, max {lat[-1] * 1000:.1f} ms")
        print(f"rotations: {len(rotations)}; unreadable_source answers: {len(stats.unreadable)} "
              f"({len(stray)} away from a rotation)")
        print(f"failures: {len(stats.failures)}")
        for f in sorted(set(stats.failures))[:10]:
            print("  " + f)
        print(f"program processes left over: {len(left)}")
        for line in left[:10]:
            print("  " + line)
        return 0 if not stats.failures and not stray and not left else 1
    finally:
        if server is not None:
            server.terminate()
            server.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
