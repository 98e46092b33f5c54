"""Many viewers following one log, with the tail's cursor and without it; see follow.sh.

Each viewer asks for a 2000-entry tail every 3 s, as the page does; the program is started
directly, as a CGI host starts it (environment in, standard output read, no shell), by a
bounded pool of workers. A writer appends 100 lines a second and rotates the log once per phase
(rename, new file). Phases alternate the two kinds of viewer on a fresh log of 2000 lines, so
both meet the same writer, rotation and machine load."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import heapq
from pathlib import Path

VIEWERS = 200
PERIOD = 3.0
LINES = 2000
LINES_PER_SECOND = 100
WORKERS = 4
CURSOR_RE = re.compile(rb'"cursor":"([A-Za-z0-9_-]*)","reset":(true|false)')
LINE = b"2024-01-02T03:04:05.%03dZ INFO [worker-%d] request %d served in 12 ms from 10.0.0.%d\n"


def log_lines(first: int, n: int) -> bytes:
    return b"".join(LINE % (i % 1000, i % 8, i, i % 250) for i in range(first, first + n))


def run_once(program: str, env: dict):
    """Starts the program as a CGI host would; returns (stdout, seconds, CPU seconds)."""
    r, w = os.pipe()
    actions = [(os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0), (os.POSIX_SPAWN_DUP2, w, 1),
               (os.POSIX_SPAWN_CLOSE, r)]
    t0 = time.monotonic()
    pid = os.posix_spawn(program, [program], env, file_actions=actions)
    os.close(w)
    chunks = []
    while True:
        b = os.read(r, 1 << 16)
        if not b:
            break
        chunks.append(b)
    os.close(r)
    _, status, ru = os.wait4(pid, 0)
    took = time.monotonic() - t0
    if status != 0:
        raise RuntimeError(f"exit status {status}")
    return b"".join(chunks), took, ru.ru_utime + ru.ru_stime


class Writer(threading.Thread):
    """Appends LINES_PER_SECOND lines a second in tenths; rotates once, at rotate_at."""

    def __init__(self, log: Path, rotate_at: float, stop: threading.Event):
        super().__init__()
        self.log, self.rotate_at, self.stop = log, rotate_at, stop
        self.n = LINES

    def run(self):
        start = time.monotonic()
        rotated = False
        f = open(self.log, "ab")
        while not self.stop.is_set():
            if not rotated and time.monotonic() - start >= self.rotate_at:
                f.close()
                os.replace(self.log, self.log.with_name(self.log.name + ".1"))
                f = open(self.log, "ab")
                rotated = True
            f.write(log_lines(self.n, LINES_PER_SECOND // 10))
            f.flush()
            self.n += LINES_PER_SECOND // 10
            time.sleep(0.1)
        f.close()


class Phase:
    def __init__(self, mode: str):
        self.mode = mode
        self.latencies, self.bytes, self.cpu = [], [], []
        self.resets = 0
        self.gaps = 0
        self.failures = []


def run_phase(program: str, local: Path, mode: str, seconds: float) -> Phase:
    root = local / "wendquil"
    shutil.rmtree(root, ignore_errors=True)
    root.mkdir(parents=True)
    log = root / "app.log"
    log.write_bytes(log_lines(0, LINES))
    src = "".join("%%%02X" % b for b in ("file:" + str(log)).encode())
    base = f"action=tail&lines={LINES}&src={src}"
    phase = Phase(mode)
    cursors = [""] * VIEWERS
    lock = threading.Lock()
    stop = threading.Event()
    writer = Writer(log, seconds / 2, stop)
    t0 = time.monotonic() + 0.2
    # Each viewer's first tick falls somewhere in the first period, as pages opened at random.
    due = [(t0 + PERIOD * v / VIEWERS, v) for v in range(VIEWERS)]
    heapq.heapify(due)
    end = t0 + seconds

    def worker():
        while True:
            with lock:
                if not due or due[0][0] >= end:
                    return
                at, v = heapq.heappop(due)
            wait = at - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            query = base + ("&after=" + cursors[v] if mode == "cursor" else "")
            env = {"LOCALAPPDATA": str(local), "QUERY_STRING": query}
            try:
                out, took, cpu = run_once(program, env)
            except (OSError, RuntimeError) as e:
                with lock:
                    phase.failures.append(repr(e))
                continue
            done = time.monotonic()
            body = out.partition(b"\r\n\r\n")[2]
            m = CURSOR_RE.search(body)
            with lock:
                if re.match(rb'{"ok":false,"error":"(source_not_allowed|unreadable_source)"', body):
                    # The log is missing for an instant while it is rotated.
                    phase.gaps += 1
                elif not body.startswith(b'{"ok":true'):
                    phase.failures.append(body[:200])
                elif mode == "cursor":
                    if m is None:
                        phase.failures.append(b"no cursor: " + body[:200])
                    else:
                        cursors[v] = m.group(1).decode()
                        phase.resets += m.group(2) == b"true"
                # From when the tick was due: a viewer waits for a busy pool too.
                phase.latencies.append(done - at)
                phase.bytes.append(len(body))
                phase.cpu.append(cpu)
                heapq.heappush(due, (at + PERIOD, v))

    writer.start()
    threads = [threading.Thread(target=worker) for _ in range(WORKERS)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    stop.set()
    writer.join()
    phase.elapsed = time.monotonic() - t0
    return phase


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(len(s) * p))] if s else 0.0


def instructions(program: str, env: dict) -> str:
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return "-"
    res = subprocess.run([valgrind, "--tool=callgrind", "--callgrind-out-file=/dev/null", program], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    m = re.search(r"Collected : (\d+)", res.stderr)
    return f"{int(m.group(1)):,}" if m else "-"


def tick_costs(program: str, tmp: Path):
    """Instructions (callgrind) of single ticks on a log of 20,000 lines."""
    local = tmp / "ir"
    root = local / "wendquil"
    root.mkdir(parents=True)
    log = root / "app.log"
    log.write_bytes(log_lines(0, 20000))
    src = "".join("%%%02X" % b for b in ("file:" + str(log)).encode())
    env = {"LOCALAPPDATA": str(local)}

    def query(extra):
        return dict(env, QUERY_STRING=f"action=tail&lines={LINES}&src={src}{extra}")

    def cursor_of(extra):
        out, _, _ = run_once(program, query(extra))
        return CURSOR_RE.search(out).group(1).decode()

    print("instructions of one request (callgrind), log of 20,000 lines:")

    def row(name, e):
        out, _, _ = run_once(program, e)
        body = out.partition(b"\r\n\r\n")[2]
        print(f"  {name:36s} {instructions(program, e):>12s} Ir  {len(body):>7d} bytes of body")

    plain = cursor_of("&after=")
    multi = cursor_of("&after=&multiline=1")
    row("full tail of 2000, no cursor", query(""))
    row("first tick (after= empty)", query("&after="))
    row("idle tick", query("&after=" + plain))
    row("idle tick, multiline", query(f"&after={multi}&multiline=1"))
    with open(log, "ab") as f:
        f.write(log_lines(20000, 300))
    row("tick of 300 new lines", query("&after=" + plain))
    row("tick of 300 new lines, multiline", query(f"&after={multi}&multiline=1"))
    row("(action=info: the process floor)", dict(env, QUERY_STRING="action=info"))


def main():
    program = str(Path(sys.argv[1]).resolve())
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    tmp = Path(tempfile.mkdtemp(prefix="pl_follow_", dir="/tmp"))
    try:
        tick_costs(program, tmp)
        print(f"\n{VIEWERS} viewers, a {LINES}-entry tail every {PERIOD:.0f} s each, {WORKERS} workers; "
              f"writer {LINES_PER_SECOND} lines/s, one rotation a phase; phases of {seconds:.0f} s, "
              f"alternating")
        phases = []
        for _ in range(2):
            for mode in ("cursor", "plain"):
                phases.append(run_phase(program, tmp / "load", mode, seconds))
        print(f"{'':8s} {'requests':>8s} {'req/s':>6s} {'median ms':>9s} {'p99 ms':>7s} "
              f"{'bytes/tick':>10s} {'(median)':>8s} {'CPU ms/tick':>11s} {'resets':>6s} {'gaps':>4s} {'failures':>8s}")
        status = 0
        for mode in ("cursor", "plain"):
            ps = [p for p in phases if p.mode == mode]
            lat = [x for p in ps for x in p.latencies]
            by = [x for p in ps for x in p.bytes]
            cpu = [x for p in ps for x in p.cpu]
            n = len(lat)
            elapsed = sum(p.elapsed for p in ps)
            failures = [f for p in ps for f in p.failures]
            status |= 1 if failures else 0
            print(f"{mode:8s} {n:8d} {n / elapsed:6.1f} {percentile(lat, 0.5) * 1000:9.2f} "
                  f"{percentile(lat, 0.99) * 1000:7.2f} {sum(by) / max(n, 1):10.0f} {percentile(by, 0.5):8.0f} "
                  f"{sum(cpu) / max(n, 1) * 1000:11.3f} {sum(p.resets for p in ps):6d} {sum(p.gaps for p in ps):4d} "
                  f"{len(failures):8d}")
            for f in failures[:5]:
                print(f"  {f!r}")
        return status
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
