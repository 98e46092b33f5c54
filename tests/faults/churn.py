"""200 requests against a log that another process appends to, truncates, deletes and rotates
in a loop: every answer is one complete document, ok or "unreadable_source", exit status 0.
Usage: churn.py <program> [requests]"""
import json
import multiprocessing
import os
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HEADER = (b"Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
          b"X-Content-Type-Options: nosniff\r\n\r\n")


def churn(log: Path, seconds: float):
    """Appends in bursts and now and then truncates, deletes, rotates or swaps in a folder."""
    rnd = random.Random(7)
    end = time.monotonic() + seconds
    n = 0
    while time.monotonic() < end:
        step = rnd.randrange(10)
        try:
            if step < 6:
                with open(log, "ab") as f:
                    f.write(b"".join(b"2024-01-02T03:04:05Z churn %d\n" % (n + i) for i in range(200)))
                n += 200
            elif step == 6:
                os.truncate(log, 0)
            elif step == 7:
                os.unlink(log)
            elif step == 8:
                os.replace(log, log.with_name("app.log.1"))
            else:
                os.unlink(log)
                os.mkdir(log)
                time.sleep(0.002)
                os.rmdir(log)
        except OSError:
            pass
        time.sleep(0.001)


def main():
    program = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    tmp = Path(tempfile.mkdtemp(prefix="pl_churn_", dir="/tmp"))
    root = tmp / "wendquil"
    root.mkdir()
    log = root / "app.log"
    log.write_bytes(b"2024-01-02T03:04:05Z first\n")
    src = "file:" + str(log)
    writer = multiprocessing.Process(target=churn, args=(log, 3600))
    writer.start()
    problems = []
    kinds = {}
    try:
        for i in range(count):
            action = ("tail", "search", "sources")[i % 3]
            qs = f"action={action}&q=churn&lines=500&src=" + "".join("%%%02X" % b for b in src.encode())
            env = {"PATH": "/usr/bin:/bin", "QUERY_STRING": qs, "LOCALAPPDATA": str(tmp)}
            res = subprocess.run([program], env=env, capture_output=True, timeout=60)
            out = res.stdout
            body = out[len(HEADER):]
            kind = None
            if res.returncode != 0:
                kind = f"exit {res.returncode}: {res.stderr[-300:]!r}"
            elif not out.startswith(HEADER) or not body.endswith(b"\n") or b"\n" in body[:-1]:
                kind = f"incomplete: {out[:200]!r}"
            else:
                try:
                    d = json.loads(body)
                    kind = "ok" if d.get("ok") is True else d.get("error")
                except ValueError as e:
                    kind = f"does not parse: {e}"
            kinds[kind] = kinds.get(kind, 0) + 1
            if kind not in ("ok", "unreadable_source", "source_not_allowed"):
                problems.append(kind)
    finally:
        writer.terminate()
        writer.join()
        subprocess.run(["rm", "-rf", str(tmp)])
    print(f"churn: {count} requests: " + ", ".join(f"{k}: {v}" for k, v in sorted(kinds.items())))
    for p in problems[:10]:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
