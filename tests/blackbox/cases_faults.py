"""A producer of event output that hangs up early, dies, or talks nonsense: the request still
gets one complete document, a success only when it finished a record or exited cleanly, and
only the fixed command line ever runs (Linux: a fake event command on PATH stands in for the
real one)."""
from pathlib import Path

from cases_hostile import parse_doc
from run import Case

RECORD = ("Event[0]:\\n  Log Name: System\\n  Date: 2024-01-02T03:04:05.000\\n  Level: Error\\n"
          "  Description: \\n  Disk failed.\\n\\n")

# name: (shell body, whether the answer is a success)
PRODUCERS = {
    "hangs up after a record and a half": (f'printf "{RECORD}Event[1]:\\n  Date: x\\n  Description: half"', True),
    "is killed mid-record": (f'printf "{RECORD}Event[1]:\\n  Description: cut"; kill -9 $$', True),
    "closes its output and lingers": (f'printf "{RECORD}"; exec >&-; sleep 1', True),
    "fails with nothing": ("echo refused >&2; exit 5", False),
    "writes one endless line and dies": ("head -c 300000 /dev/zero | tr '\\\\0' x; kill -9 $$", False),
    "writes binary noise": ("head -c 65536 /dev/urandom", True),
}


def complete(want_ok=True, args_file=None, want_args=None):
    def expect(out):
        d, err = parse_doc(out)
        if err:
            return err
        if want_ok and d.get("ok") is not True:
            return f"not ok: {str(d)[:300]}"
        if not want_ok and d.get("error") != "unreadable_source":
            return f"not unreadable_source: {str(d)[:300]}"
        if args_file is not None:
            got = args_file.read_text() if args_file.exists() else "(did not run)"
            if got != want_args:
                return f"event command ran as {got!r}, expected {want_args!r}"
        return None
    return expect


def cases(t, tmp):
    out = []
    for i, (name, (body, ok)) in enumerate(PRODUCERS.items()):
        bin_dir = tmp / f"bin{i}"
        bin_dir.mkdir()
        script = bin_dir / "wevtutil"
        script.write_text("#!/bin/sh\n" + body + "\n")
        script.chmod(0o755)
        for action in ("tail", "search"):
            out.append(Case(f"event producer {name} ({action})", complete(want_ok=ok),
                            query=f"action={action}&q=d&src=event:System",
                            env={"PATH": f"{bin_dir}:/usr/bin:/bin"}, targets=("linux",), timeout=20))

    # The exact arguments that reach the command, whatever the query holds.
    bin_dir = tmp / "bin_args"
    bin_dir.mkdir()
    args_file = tmp / "args"
    script = bin_dir / "wevtutil"
    script.write_text(f'#!/bin/sh\nprintf "%s|" "$@" > {args_file}\n')
    script.chmod(0o755)
    out.append(Case("only the fixed event command runs",
                    complete(args_file=args_file, want_args="qe|Application|/c:7|/rd:true|/f:text|/uni:true|"),
                    query="action=tail&src=event:Application&lines=7%20%26%20calc&q=%24(id)",
                    env={"PATH": f"{bin_dir}:/usr/bin:/bin"}, targets=("linux",)))
    out.append(Case("no event command on PATH", complete(want_ok=False),
                    query="action=tail&src=event:System", env={"PATH": str(tmp / "none")},
                    targets=("linux",)))
    return out
