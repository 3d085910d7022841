#!/usr/bin/env python3
"""The invariant checker must see each kind of damage a run could do."""

import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import check  # noqa: E402

T = 1577934245_000000000  # a modification time, in nanoseconds


class CheckerTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="velmora-check-", dir="/var/tmp")
        self.addCleanup(shutil.rmtree, self.root)
        self.Write("src/a.jpg", b"photo a")
        self.Write("src/b.jpg", b"photo b")
        self.Write("src/200102/old.jpg", b"stored earlier")
        self.before = check.Snapshot(self.root)
        self.sources = ["src/a.jpg", "src/b.jpg"]

    def Write(self, rel, data, mtime=T):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, ns=(mtime, mtime))

    def Verify(self, move=False, exit_code=0, **kw):
        return check.Verify(self.before, self.root, "src", self.sources, move=move,
                            exit_code=exit_code, **kw).counts

    def Broken(self, counts):
        return {k: v for k, v in counts.items() if v}

    def testACompleteCopyAndACompleteMovePass(self):
        self.Write("src/200102/a.jpg", b"photo a")
        self.Write("src/200102/b.jpg", b"photo b")
        self.assertEqual(self.Broken(self.Verify()), {})
        os.unlink(os.path.join(self.root, "src/a.jpg"))
        os.unlink(os.path.join(self.root, "src/b.jpg"))
        self.assertEqual(self.Broken(self.Verify(move=True)), {})

    def testLostOverwrittenAndChangedFiles(self):
        os.unlink(os.path.join(self.root, "src/a.jpg"))  # moved away, but stored nowhere
        self.Write("src/200102/old.jpg", b"photo b")  # an earlier file replaced
        counts = self.Verify(move=True, exit_code=1)
        self.assertEqual(counts["lost"], 2)
        self.assertEqual(counts["overwritten"], 1)
        # A copy run may remove nothing at all, and a file's time is part of it.
        self.Write("src/a.jpg", b"photo a", mtime=T + 1)
        os.unlink(os.path.join(self.root, "src/b.jpg"))
        counts = self.Verify(exit_code=1)
        self.assertEqual(counts["overwritten"], 3)

    def testPartialEmptyAndHiddenFiles(self):
        self.Write("src/200102/a.jpg", b"photo")  # truncated
        self.Write("src/200102/b.jpg", b"")
        self.Write("src/200102/.velmora-part-1-2-3-a.jpg", b"pho")
        counts = self.Verify(exit_code=None)
        self.assertEqual((counts["partial"], counts["empty"], counts["leftover"]), (1, 1, 1))
        self.assertEqual(self.Broken(check.Report().counts), {})

    def testTimesOfCopies(self):
        self.Write("src/200102/a.jpg", b"photo a", mtime=T + 2_000_000_000)
        self.Write("src/200102/b.jpg", b"photo b", mtime=T + 1_000_000)
        self.assertEqual(self.Verify()["mtime"], 2)
        self.assertEqual(self.Verify(mtime_tolerance_ns=2_000_000_000)["mtime"], 0)

    def testPathsOutsideTheBase(self):
        self.Write("elsewhere.jpg", b"photo a")
        self.Write("src/a.jpg.copy", b"photo b")
        self.Write("src/200102/deeper/a.jpg", b"photo a")
        os.symlink("/etc/passwd", os.path.join(self.root, "src/200102/link"))
        # The folder "deeper" counts too.
        self.assertEqual(self.Verify(exit_code=None)["escaped"], 5)

    def testHiddenDestinations(self):
        self.Write("src/....../a.jpg", b"photo a")  # a date made of dots
        self.Write("src/200102/.b.jpg", b"photo b")
        self.assertEqual(self.Verify(exit_code=None)["escaped"], 2)

    def testASourceTakenAsideByAKilledMove(self):
        # Its copy is stored; the source waits under a hidden name in its folder.
        self.Write("src/200102/a.jpg", b"photo a")
        os.rename(os.path.join(self.root, "src/a.jpg"),
                  os.path.join(self.root, "src/.velmora-moved-1-2-3-a.jpg"))
        counts = self.Verify(move=True, exit_code=None)
        self.assertEqual(self.Broken(counts), {"leftover": 1})
        # Anything else by that name is no source of this run.
        self.Write("src/200102/.velmora-moved-1-2-4-b.jpg", b"photo b")
        self.assertEqual(self.Verify(move=True, exit_code=None)["escaped"], 1)

    def testSetuidBitsOnCopiesOnly(self):
        setuid = os.path.join(self.root, "src/a.jpg")
        os.chmod(setuid, 0o4755)
        self.before = check.Snapshot(self.root)
        # Moved by rename: the same file, its mode unchanged.
        os.rename(setuid, os.path.join(self.root, "src/200102/a.jpg"))
        self.Write("src/200102/b.jpg", b"photo b")
        self.assertEqual(self.Broken(self.Verify(move=True, exit_code=None)), {})
        # A copy that kept the bit.
        self.Write("src/200102/a[001].jpg", b"photo a")
        os.chmod(os.path.join(self.root, "src/200102/a[001].jpg"), 0o2755)
        self.assertEqual(self.Verify(move=True, exit_code=None)["privilege"], 1)

    def testExitStatus(self):
        # A fault fired: the run must say so.
        self.assertEqual(self.Verify(exit_code=0, fault_fired=True)["exit"], 3)
        self.assertEqual(self.Verify(exit_code=1, fault_fired=True)["exit"], 0)
        # Exit 0 means every listed file was stored (and, moving, removed).
        self.Write("src/200102/a.jpg", b"photo a")
        self.assertEqual(self.Verify(exit_code=0)["exit"], 1)
        self.assertEqual(self.Verify(exit_code=0, move=True)["exit"], 2)
        # A name that appeared meanwhile is known content, a source removed meanwhile not lost.
        self.Write("src/200102/b.jpg", b"intruder")
        os.unlink(os.path.join(self.root, "src/b.jpg"))
        counts = self.Verify(exit_code=1, extra_known=[check._hash(
            os.path.join(self.root, "src/200102/b.jpg"))], removed=["src/b.jpg"])
        self.assertEqual(self.Broken(counts), {})

    def testNamesThatAreNotUtf8(self):
        name = b"src/200102/\xff\n.jpg"
        path = os.path.join(os.fsencode(self.root), name)
        with open(path, "wb") as f:
            f.write(b"photo a")
        os.utime(path, ns=(T, T))
        self.Write("src/200102/b.jpg", b"photo b")
        self.assertEqual(self.Broken(self.Verify()), {})


if __name__ == "__main__":
    unittest.main()
