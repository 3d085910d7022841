#!/usr/bin/env python3
"""Invariant checker for velmora-cli runs.

Take a manifest of a sandbox (the source folder and, when separate, the folder that holds the
destination base) before a run, and compare the sandbox with it after the run:

  lost         an original content that is neither in the source nor in the destination
  overwritten  a file that existed before and is no longer byte-identical (or is gone, when it
               was not a source the run was allowed to move)
  partial      a new file, under a final name, whose content matches no original
  empty        the same, empty: a name held for a copy when the run was killed (file systems
               without no-replace renames and hard links need one); reported apart
  leftover     a new hidden ".velmora-part-*" file, or a source taken aside as ".velmora-moved-*"
               by a move killed before it removed it (reported apart from partial files)
  mtime        a new copy whose modification time differs from that of its original
  escaped      a created path outside the destination base, or not at base/DATEFOLDER/NAME, or
               a hidden one (a name starting with ".", which file managers do not show)
  exit         the run exited 0 although a fault fired, or exited 0 without storing every file
  privilege    a new copy with a setuid, setgid or sticky bit (a file moved by rename, the same
               inode, keeps its mode)
  attributes   a copy that lost holes, "user." attributes or an ACL its destination keeps, or
               whose group bits grew (added by the scenarios that check them)
  plan         a --dry-run or --verbose line that does not say what the run does, or a dry run
               that ends otherwise than the real run (added by the scenarios that check them)
  history      after an undo: a run history that fails its integrity check, a run still marked
               going, or a hidden name left behind (added by the undo scenarios)

As a module: Snapshot(root) and Verify(...). From a shell:
  check.py snapshot ROOT > before.json
  check.py verify before.json ROOT --base BASE --source SRC [--move] [--exit N] [--fault-fired]
"""

import argparse
import hashlib
import json
import os
import stat
import sys

PART_PREFIX = ".velmora-part-"
MOVED_PREFIX = ".velmora-moved-"

KINDS = ("lost", "overwritten", "partial", "empty", "leftover", "mtime", "escaped", "exit",
         "privilege", "attributes", "plan", "history")
# Kinds that are reported but do not break the invariants.
NOTED = ("empty", "leftover")


def _hash(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            digest.update(block)
    return digest.hexdigest()


def Snapshot(root):
    """Every entry below root (hidden ones included), by path relative to root.

    Paths are bytes, so names that are not UTF-8 survive. Each value is a dict with kind
    ("file", "dir", "link", "other"), and for files size, sha256, mtime_ns, mode (the
    permission and setuid/setgid/sticky bits), uid and inode (device and inode number).
    """
    root = os.fsencode(root)
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            st = os.lstat(path)
            if stat.S_ISREG(st.st_mode):
                entries[rel] = {"kind": "file", "size": st.st_size, "sha256": _hash(path),
                                "mtime_ns": st.st_mtime_ns, "mode": stat.S_IMODE(st.st_mode),
                                "uid": st.st_uid, "inode": [st.st_dev, st.st_ino]}
            elif stat.S_ISDIR(st.st_mode):
                entries[rel] = {"kind": "dir"}
            elif stat.S_ISLNK(st.st_mode):
                entries[rel] = {"kind": "link", "target": os.readlink(path)}
            else:
                entries[rel] = {"kind": "other"}
        # os.walk does not descend into links to folders: a run must not create any.
    return entries


def Hashes(snapshot):
    return {e["sha256"] for e in snapshot.values() if e["kind"] == "file"}


class Report:
    def __init__(self):
        self.counts = {kind: 0 for kind in KINDS}
        self.messages = []

    def Add(self, kind, message):
        self.counts[kind] += 1
        if len(self.messages) < 40:
            self.messages.append("%s: %s" % (kind, message))

    def Ok(self):
        return all(self.counts[k] == 0 for k in KINDS if k not in NOTED)

    def Merge(self, other):
        for kind in KINDS:
            self.counts[kind] += other.counts[kind]
        self.messages += other.messages[: max(0, 40 - len(self.messages))]

    def __str__(self):
        return ", ".join("%s %d" % (k, self.counts[k]) for k in KINDS)


def _show(rel):
    return os.fsdecode(rel).encode("unicode_escape", "backslashreplace").decode("ascii")


def Verify(before, root, base, sources, move=False, exit_code=None, fault_fired=False,
           expect_failure=True, extra_known=(), removed=(), mtime_tolerance_ns=0,
           after=None):
    """Checks the sandbox at root against the manifest before.

    base: the destination base, relative to root. sources: the listed source files, relative
    to root (a move may remove exactly these). exit_code: the run's exit status (None: the run
    was killed, nothing to say about it). fault_fired: a fault hit the run; with
    expect_failure the exit must then be non-zero. extra_known: contents (SHA-256) that the
    harness itself put in while the run worked (names that appeared meanwhile).
    removed: paths the harness removed meanwhile (a source that vanished).
    """
    report = Report()
    if after is None:
        after = Snapshot(root)
    base = os.fsencode(base).rstrip(b"/")
    sources = {os.fsencode(s) for s in sources}
    removed = {os.fsencode(r) for r in removed}
    known = Hashes(before) | set(extra_known)

    # Files that existed before stay byte-identical; only moved sources may go.
    for rel, old in before.items():
        if old["kind"] != "file" or rel in removed:
            continue
        new = after.get(rel)
        if new is None or (new["kind"] != "file" and move and rel in sources):
            # Moved away (and its name maybe taken by a date folder since).
            if move and rel in sources:
                continue
            report.Add("overwritten", "%s is gone" % _show(rel))
        elif new["kind"] != "file" or new["sha256"] != old["sha256"]:
            report.Add("overwritten", "%s changed" % _show(rel))
        elif new["mtime_ns"] != old["mtime_ns"]:
            report.Add("overwritten", "%s has a new modification time" % _show(rel))

    # Every original content is still somewhere, as often as it was there before.
    need, have = {}, {}
    for rel, e in before.items():
        if e["kind"] == "file" and rel not in removed:
            need[e["sha256"]] = need.get(e["sha256"], 0) + 1
    for e in after.values():
        if e["kind"] == "file":
            have[e["sha256"]] = have.get(e["sha256"], 0) + 1
    for digest, n in need.items():
        if have.get(digest, 0) < n:
            names = [_show(r) for r, e in before.items()
                     if e["kind"] == "file" and e["sha256"] == digest]
            report.Add("lost", "content of %s" % ", ".join(names[:3]))

    # Mtimes of originals by content, for the copies.
    mtimes = {}
    for e in before.values():
        if e["kind"] == "file":
            mtimes.setdefault(e["sha256"], []).append(e["mtime_ns"])

    stored = {}  # content -> number of new copies under the base
    inodes = {tuple(e["inode"]) for e in before.values() if e["kind"] == "file" and "inode" in e}
    for rel, e in after.items():
        if rel in before and before[rel]["kind"] == e["kind"]:
            continue
        name = os.path.basename(rel)
        if e["kind"] == "file" and name.startswith(os.fsencode(MOVED_PREFIX)) and \
                e["sha256"] in known and any(os.path.dirname(s) == os.path.dirname(rel)
                                             for s in sources):
            # A moved source taken aside to be compared, when a kill came before its removal:
            # its copy was flushed first, so this is a duplicate left behind, not a loss.
            report.Add("leftover", _show(rel))
            continue
        inside = rel == base or rel.startswith(base + b"/")
        if not inside and base.startswith(rel + b"/") and e["kind"] == "dir":
            inside = True  # a parent of the base (the base was made with its parent)
        depth = len(rel[len(base) + 1:].split(b"/")) if rel.startswith(base + b"/") else 0
        if not inside:
            report.Add("escaped", "%s is outside the destination base" % _show(rel))
            continue
        if depth in (1, 2) and name.startswith(b".") and \
                not (depth == 2 and name.startswith(os.fsencode(PART_PREFIX))):
            report.Add("escaped", "%s is hidden" % _show(rel))
            continue
        if e["kind"] == "dir":
            if rel != base and depth != 1 and not base.startswith(rel + b"/"):
                report.Add("escaped", "folder %s is not a date folder" % _show(rel))
            continue
        if e["kind"] != "file":
            report.Add("escaped", "%s is a %s" % (_show(rel), e["kind"]))
            continue
        if depth != 2:
            report.Add("escaped", "%s is not base/DATEFOLDER/NAME" % _show(rel))
        if e.get("mode", 0) & 0o7000 and tuple(e.get("inode", ())) not in inodes:
            report.Add("privilege", "the copy %s has mode %o" % (_show(rel), e["mode"]))
        if name.startswith(os.fsencode(PART_PREFIX)):
            report.Add("leftover", _show(rel))
            continue
        if e["sha256"] not in known:
            if e["size"] == 0:
                report.Add("empty", "%s is empty" % _show(rel))
            else:
                report.Add("partial", "%s (%d bytes) holds no original content" %
                           (_show(rel), e["size"]))
            continue
        stored[e["sha256"]] = stored.get(e["sha256"], 0) + 1
        candidates = mtimes.get(e["sha256"], [])
        if candidates and not any(abs(m - e["mtime_ns"]) <= mtime_tolerance_ns
                                  for m in candidates):
            report.Add("mtime", "%s has modification time %d, its original %d" %
                       (_show(rel), e["mtime_ns"], candidates[0]))

    if exit_code is not None:
        if fault_fired and expect_failure and exit_code == 0:
            report.Add("exit", "a fault fired but the run exited 0")
        if exit_code == 0:
            # A run that says it is done has stored every listed file.
            for rel in sorted(sources - removed):
                e = before.get(rel)
                if e is None or e["kind"] != "file":
                    continue
                if stored.get(e["sha256"], 0) == 0:
                    report.Add("exit", "exit 0 but %s was not stored" % _show(rel))
                elif move and rel in after and after[rel]["kind"] == "file":
                    report.Add("exit", "exit 0 but the moved %s is still there" % _show(rel))
    return report


def _encode(snapshot):
    return {os.fsdecode(k): v for k, v in snapshot.items()}


def _decode(data):
    return {os.fsencode(k): v for k, v in data.items()}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    snap = sub.add_parser("snapshot", help="print a manifest of ROOT as JSON")
    snap.add_argument("root")
    ver = sub.add_parser("verify", help="check ROOT against a manifest")
    ver.add_argument("manifest")
    ver.add_argument("root")
    ver.add_argument("--base", required=True, help="destination base, relative to ROOT")
    ver.add_argument("--source", required=True, help="source folder, relative to ROOT")
    ver.add_argument("--move", action="store_true")
    ver.add_argument("--exit", type=int, default=None, help="the run's exit status")
    ver.add_argument("--fault-fired", action="store_true")
    ver.add_argument("--mtime-tolerance-ns", type=int, default=0)
    args = parser.parse_args(argv)
    if args.command == "snapshot":
        json.dump(_encode(Snapshot(args.root)), sys.stdout, indent=0)
        return 0
    with open(args.manifest) as f:
        before = _decode(json.load(f))
    src = os.fsencode(args.source).rstrip(b"/")
    sources = [r for r, e in before.items()
               if e["kind"] in ("file", "link") and os.path.dirname(r) == src
               and not os.path.basename(r).startswith(b".")]
    report = Verify(before, args.root, args.base, sources, move=args.move,
                    exit_code=args.exit, fault_fired=args.fault_fired,
                    mtime_tolerance_ns=args.mtime_tolerance_ns)
    for message in report.messages:
        print(message)
    print(report)
    return 0 if report.Ok() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
