"""Links under a root: followed where they stay inside it, never where they lead out.

Whoever can write a data folder could otherwise read, through this program, files only the
web server's account may read. The trees are Linux symbolic links; Wine shows a link to a
folder as a reparse point and a link to a file as a plain file, and resolves both in the
final path of an open handle, so both builds run every case. (A link swapped between the
listing and the read is a fault test: tests/faults.)
"""
import os
from urllib.parse import quote

from cases_catalogue import listing, refused
from cases_download import header, whole
from run import JSON_HEADER, Case, json_str

LINE = b"2024-05-01 12:00:00 inside the data folder\n"
SECRET = b"2024-05-01 12:00:00 only the server may read this\n"


def cases(t, tmp):
    tmp = str(tmp)
    local = tmp + "/local"
    root = local + "/wendquil"
    outside = tmp + "/outside"
    for d in (root + "/data", outside, local + "/wendquil2"):
        os.makedirs(d)
    for path, data in ((root + "/inside.log", LINE), (root + "/data/real.txt", LINE),
                       (root + "/data/x.log", LINE), (outside + "/secret.log", SECRET),
                       (local + "/wendquil2/s.log", SECRET)):
        with open(path, "wb") as f:
            f.write(data)
    links = {
        "in_rel.log": "data/real.txt",
        "in_abs.log": root + "/data/real.txt",
        "in_back.log": "../wendquil/data/real.txt",  # leaves the root and comes back
        "in_dir": "data",
        "out_rel.log": "../../outside/secret.log",
        "out_abs.log": outside + "/secret.log",
        "out_dir": outside,
        "up": "..",
        # Its text begins with the root's, but it is another folder.
        "sibling": "../wendquil2",
        "dev.log": "/dev/zero",
    }
    for name, target in links.items():
        os.symlink(target, root + "/" + name)
    listed = [root + "/inside.log", root + "/data/x.log", root + "/in_rel.log", root + "/in_abs.log",
              root + "/in_back.log", root + "/in_dir/x.log"]
    sizes = [(p, len(LINE)) for p in listed]

    def src(path):
        return quote(t.file_id(path), safe="")

    def tail_of(path, label):
        """A tail of the file behind the link (how its line splits into fields is the reader's
        business): the row's id and label, and the line's text."""
        head = (b'{"ok":true,"action":"tail","plugin":"plugin_logs","utc":"U","src":' + json_str(t.file_id(path)) +
                b',"label":' + json_str(label) + b',"kind":"file","requested":200,"count":1,"entries":[')

        def expect(got):
            body = got[len(JSON_HEADER):]
            if not body.startswith(head) or b"inside the data folder" not in body:
                return f"not the tail of {path}: {body[:300]!r}"
            return None
        return expect

    out = [
        Case("links that stay inside are listed with their target's size and time; links out are not",
             listing(t, sizes), query="action=sources", local=local),
        Case("a link inside is read", tail_of(root + "/in_rel.log", "in_rel.log"),
             query="action=tail&src=" + src(root + "/in_rel.log"), local=local),
        Case("a link inside is downloaded: the target's bytes under the link's name",
             stream=whole(header("in_back.log", len(LINE)), LINE),
             query="action=download&src=" + src(root + "/in_back.log"), local=local),
        Case("a file inside through a folder link is read", tail_of(root + "/in_dir/x.log", "x.log"),
             query="action=tail&src=" + src(root + "/in_dir/x.log"), local=local),
    ]
    for path in (root + "/out_rel.log", root + "/out_abs.log", root + "/out_dir/secret.log",
                 root + "/up/wendquil2/s.log", root + "/sibling/s.log", root + "/dev.log"):
        for action in ("tail", "search", "download"):
            out.append(Case(f"{action} through a link out is refused: {os.path.relpath(path, root)}",
                            refused(t.file_id(path).encode()),
                            query=f"action={action}&q=only&src=" + src(path), local=local))

    # A root that is itself a link names the folder it leads to; ids keep the root's text.
    os.makedirs(tmp + "/linked_root")
    os.symlink(root, tmp + "/linked_root/wendquil")
    via = tmp + "/linked_root/wendquil"
    out += [
        Case("a root that is a link is walked where it leads",
             listing(t, [(p.replace(root, via), s) for p, s in sizes]), query="action=sources",
             local=tmp + "/linked_root"),
        Case("a file under a linked root is read", tail_of(via + "/inside.log", "inside.log"),
             query="action=tail&src=" + src(via + "/inside.log"), local=tmp + "/linked_root"),
    ]
    return out
