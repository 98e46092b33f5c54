#!/usr/bin/env python3
"""Black-box driver: runs the program as a CGI process and compares exact output bytes.

The same case tables (cases_*.py) run against the Linux build and, under Wine, the Windows
build. A case gives arguments, environment and the expected stdout bytes; the request time
in "utc" is replaced by U before comparing.

usage: run.py linux PROGRAM
       run.py wine PROGRAM.exe LAUNCHER.exe
"""
import concurrent.futures
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional, Union

HERE = Path(__file__).resolve().parent
UTC_RE = re.compile(rb'"utc":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"')

JSON_HEADER = (b"Content-Type: application/json; charset=utf-8\r\n"
               b"Cache-Control: no-store\r\n"
               b"X-Content-Type-Options: nosniff\r\n\r\n")


def json_str(value: Union[str, bytes]) -> bytes:
    """The program's own JSON string writer, as a reference."""
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogateescape")
    out = bytearray(b'"')
    short = {0x22: b'\\"', 0x5C: b'\\\\', 0x0A: b'\\n', 0x0D: b'\\r', 0x09: b'\\t'}
    for c in value:
        if c in short:
            out += short[c]
        elif c < 0x20:
            out += b'\\u%04x' % c
        else:
            out.append(c)
    out += b'"'
    return bytes(out)


def repaired(raw: bytes) -> bytes:
    """raw as a document carries it: each invalid UTF-8 sequence (its maximal subpart) one
    U+FFFD, which is what Python's "replace" does too."""
    return raw.decode("utf-8", "replace").encode("utf-8")


def echo(raw: bytes, size: int = 31) -> bytes:
    """A request value as "requested" echoes it: repaired, and cut before the first character
    that would pass `size` bytes."""
    out = b""
    for ch in repaired(raw).decode("utf-8"):
        piece = ch.encode("utf-8")
        if len(out) + len(piece) > size:
            break
        out += piece
    return out


def doc(body: Union[str, bytes]) -> bytes:
    """A JSON response: the header block, the one-line body and a line feed."""
    if isinstance(body, str):
        body = body.encode("utf-8", "surrogateescape")
    return JSON_HEADER + body + b"\n"


def entry(text, ts="", unit="", sev="info") -> bytes:
    """A log file's entry object."""
    return (b'{"ts":' + json_str(ts) + b',"unit":' + json_str(unit) + b',"sev":' + json_str(sev) +
            b',"text":' + json_str(text) + b'}')


def write(path, data: bytes) -> None:
    with open(path, "wb") as f:
        f.write(data)


class LogFolder:
    """A root's log files as one target names them, and the documents of their tails and searches."""

    def __init__(self, target, root: str):
        self.target = target
        self.root = root

    def fid(self, name: str) -> str:
        return self.target.file_id(os.path.join(self.root, name))

    def src(self, name: str) -> str:
        return urllib.parse.quote(self.fid(name), safe="")

    def tail_doc(self, name, requested, entries) -> bytes:
        return doc(b'{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":' +
                   json_str(self.fid(name)) + b',"label":' + json_str(name) + b',"kind":"file",' +
                   b'"requested":%d,"count":%d,"entries":[' % (requested, len(entries)) +
                   b",".join(entries) + b"]}")

    def search_doc(self, name, q, scanned, hits, truncated=None, after_truncated=b"") -> bytes:
        if truncated is None:
            truncated = len(hits) >= 500
        return doc(b'{"ok":true,"action":"search","plugin":"plugin_logs","utc":"U","src":' +
                   json_str(self.fid(name)) + b',"label":' + json_str(name) + b',"q":' + json_str(q) +
                   b',"scanned":%d,"count":%d,"max":500,"truncated":%s' %
                   (scanned, len(hits), b"true" if truncated else b"false") + after_truncated +
                   b',"hits":[' + b",".join(hits) + b"]}")


@dataclass
class Case:
    name: str
    expect: Union[bytes, Callable[[bytes], Optional[str]], None] = None
    query: object = None             # QUERY_STRING: str/bytes, or None to leave it out
    args: list = field(default_factory=list)
    env: dict = field(default_factory=dict)   # further variables; value None removes one
    local: Optional[str] = None      # LOCALAPPDATA as a Linux path (None: unset)
    profile: Optional[str] = None    # USERPROFILE as a Linux path (None: unset)
    local_raw: Optional[str] = None  # LOCALAPPDATA given literally (e.g. empty)
    profile_raw: Optional[str] = None
    setup: Optional[Callable[[], None]] = None  # runs just before the process starts
    win_env: dict = field(default_factory=dict)  # wine only: set inside Windows by the launcher
    stderr: Optional[bytes] = None   # exact standard error, when given
    exit_code: int = 0
    targets: tuple = ("linux", "wine")
    timeout: float = 60
    cwd: Optional[str] = None        # working folder (a Linux path); None: the driver's
    seconds: Optional[tuple] = None  # (least, most) the run may take, when given
    # Reads standard output as it comes instead of the driver holding all of it (a body of
    # gigabytes, or one the case changes a file under while it is sent); returns a problem or
    # None. expect is not used then.
    stream: Optional[Callable] = None


class Target:
    """How one build is run, and how it spells paths."""

    def __init__(self, kind: str, program: str, launcher: Optional[str] = None):
        self.kind = kind
        self.program = os.path.abspath(program)
        self.launcher = os.path.abspath(launcher) if launcher else None
        self.sep = "\\" if kind == "wine" else "/"
        self.platform = "windows" if kind == "wine" else "linux"

    def path(self, linux_path: str) -> str:
        """A Linux path as the program sees it (Z:\\... under Wine)."""
        if self.kind == "wine":
            return "Z:" + linux_path.replace("/", "\\")
        return linux_path

    def file_id(self, linux_path: str) -> str:
        return "file:" + self.path(linux_path)

    def root(self, local: str) -> str:
        """The first root the catalogue walks for LOCALAPPDATA=local."""
        return local + "/wendquil"

    def run(self, case: Case) -> subprocess.CompletedProcess:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        if self.kind == "wine":
            for k in ("HOME", "WINEPREFIX", "DISPLAY"):
                if k in os.environ:
                    env[k] = os.environ[k]
            env["WINEDEBUG"] = "-all"
            # Wine takes its Unix character set and its Windows locale from LANG: UTF-8 carries
            # every name and value unchanged, and this locale's ANSI code page is 1252.
            env["LANG"] = "C.UTF-8"
            # The event cases' fake is the prefix's system32\wevtutil.exe; without this Wine
            # runs its built-in stub of that name instead.
            env["WINEDLLOVERRIDES"] = "wevtutil.exe=n"
        if case.query is not None:
            q = case.query
            env["QUERY_STRING"] = q.decode("utf-8", "surrogateescape") if isinstance(q, bytes) else q
        for k, v in case.env.items():
            if v is not None:
                env[k] = v
        local = self.path(case.local) if case.local is not None else case.local_raw
        profile = self.path(case.profile) if case.profile is not None else case.profile_raw
        if self.kind == "linux":
            if local is not None:
                env["LOCALAPPDATA"] = local
            if profile is not None:
                env["USERPROFILE"] = profile
            cmd = [self.program] + case.args
        else:
            sets = ["LOCALAPPDATA=" + local if local is not None else "-LOCALAPPDATA",
                    "USERPROFILE=" + profile if profile is not None else "-USERPROFILE"]
            for k, v in case.env.items():
                if v is None:
                    sets.append("-" + k)
            sets += [f"{k}={v}" for k, v in case.win_env.items()]
            cmd = ["wine", self.launcher] + sets + ["--", self.path(self.program)] + case.args
        if case.stream is not None:
            return self.run_streamed(case, cmd, env)
        tries = 2 if self.kind == "wine" else 1
        for attempt in range(tries):
            # Wine now and then hangs, or fails with no output at all, while starting a
            # process under parallel load; a second start tells that apart from a real fault.
            try:
                res = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=case.timeout, cwd=case.cwd)
            except subprocess.TimeoutExpired:
                if attempt + 1 == tries:
                    raise
                continue
            if res.returncode == case.exit_code or res.stdout or attempt + 1 == tries:
                return res
        raise AssertionError("unreachable")


    def run_streamed(self, case: Case, cmd: list, env: dict) -> subprocess.CompletedProcess:
        """Runs cmd with its output handed to case.stream; the problem it reports, if any,
        comes back as stdout_problem. The process is killed when it outlives the time limit."""
        with tempfile.TemporaryFile() as err:
            proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=err, cwd=case.cwd)
            timer = threading.Timer(case.timeout, proc.kill)
            timer.start()
            try:
                problem = case.stream(proc.stdout)
                proc.stdout.read()  # whatever the case left unread
            finally:
                proc.stdout.close()
                code = proc.wait()
                timed_out = not timer.is_alive()
                timer.cancel()
            err.seek(0)
            res = subprocess.CompletedProcess(cmd, code, b"", err.read())
        res.stdout_problem = "timed out" if timed_out else problem
        return res


def load_cases(target: Target, tmp: Path) -> list:
    cases = []
    for path in sorted(HERE.glob("cases_*.py")):
        loader_info = importlib.util.spec_from_file_location(path.stem, path)
        mod = importlib.util.module_from_spec(loader_info)
        loader_info.loader.exec_module(mod)
        folder = tmp / path.stem
        folder.mkdir()
        for c in mod.cases(target, folder):
            if target.kind in c.targets:
                c.name = f"{path.stem[6:]}: {c.name}"
                cases.append(c)
    return cases


def check(target: Target, case: Case) -> Optional[str]:
    if case.setup is not None:
        case.setup()
    started = time.monotonic()
    try:
        res = target.run(case)
    except subprocess.TimeoutExpired:
        return "timed out"
    took = time.monotonic() - started
    out = UTC_RE.sub(b'"utc":"U"', res.stdout)
    problems = []
    try:
        res.stdout.decode("utf-8", "strict")
    except UnicodeDecodeError as e:
        problems.append(f"output is not UTF-8 at byte {e.start}: {res.stdout[max(0, e.start - 60):e.end + 20]!r}")
    if case.seconds is not None and not case.seconds[0] <= took <= case.seconds[1]:
        problems.append(f"took {took:.1f} s, expected {case.seconds[0]} to {case.seconds[1]} s")
    if res.returncode != case.exit_code:
        problems.append(f"exit status {res.returncode}, expected {case.exit_code}; stderr: "
                        f"{res.stderr[-2000:]!r}")
    if getattr(res, "stdout_problem", None):
        problems.append(res.stdout_problem)
    if callable(case.expect):
        msg = case.expect(out)
        if msg:
            problems.append(msg)
    elif case.expect is not None and out != case.expect:
        problems.append(describe_difference(case.expect, out))
    if case.stderr is not None and res.stderr != case.stderr:
        problems.append(f"standard error {res.stderr[:300]!r}, expected {case.stderr!r}")
    return "\n".join(problems) or None


def describe_difference(want: bytes, got: bytes) -> str:
    i = 0
    while i < min(len(want), len(got)) and want[i] == got[i]:
        i += 1
    lo = max(0, i - 80)
    return (f"output differs at byte {i} (expected {len(want)} bytes, got {len(got)})\n"
            f"  expected: {want[lo:i + 120]!r}\n  got:      {got[lo:i + 120]!r}")


def main() -> int:
    if len(sys.argv) < 3 or sys.argv[1] not in ("linux", "wine"):
        print(__doc__)
        return 2
    target = Target(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    only = os.environ.get("BLACKBOX_ONLY", "")
    tmp = Path(tempfile.mkdtemp(prefix="pl_blackbox_", dir="/tmp"))
    try:
        cases = [c for c in load_cases(target, tmp) if only in c.name]
        # Cases with a setup step change shared fixtures at run time, so they run alone.
        free = [c for c in cases if c.setup is None]
        ordered = [c for c in cases if c.setup is not None]
        failures = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            results = list(zip(free, pool.map(lambda c: check(target, c), free)))
        results += [(c, check(target, c)) for c in ordered]
        for case, problem in results:
            if problem:
                failures.append(case.name)
                print(f"FAIL {case.name}\n  " + problem.replace("\n", "\n  "))
        passed = len(results) - len(failures)
        print(f"blackbox-{target.kind}: {passed} passed, {len(failures)} failed")
        return 1 if failures else 0
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
