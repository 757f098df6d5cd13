"""What the end-to-end scripts share: counted checks and a folder's files."""

import os

from tests import texts


class Checks:
    """Prints each check as it goes and counts the outcomes."""

    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, ok, detail=""):
        print("[%s] %s%s" % ("PASS" if ok else "FAIL", name,
                             "" if ok else "\n" + str(detail)))
        if ok:
            self.passed += 1
        else:
            self.failed += 1

    def summary(self):
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 else 1


# The status of a suite that cannot run here, as automake's harness reads
# it: test.sh counts it as skipped, never as passed.
SKIPPED = 77


def skip(reason):
    print("[SKIP] %s\n0 passed, 0 failed, 1 skipped" % reason)
    return SKIPPED


def files_of(folder):
    """Every regular file of a folder with its bytes, by name (a name that
    is not text keeps its bytes as surrogates)."""
    out = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                out[name] = f.read()
    return out


def long_verification(folder):
    """A verification that runs for seconds: "a.txt", checked at once, then
    two sparse 4 GiB files (seconds of hashing, no disk) that a cancel
    leaves unchecked. Returns the lines of the report that a cancel soon
    after 2 s gives."""
    with open(os.path.join(folder, "a.txt"), "wb") as f:
        f.write(b"abc")
    for name in ("big1.bin", "big2.bin"):
        with open(os.path.join(folder, name), "wb") as f:
            f.truncate(4 << 30)
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(b"900150983cd24fb0d6963f7d28e17f72 *a.txt\n" +
                b"0" * 32 + b" *big1.bin\n" + b"0" * 32 + b" *big2.bin\n")
    return ["a.txt - OK", texts.CANCELLED % texts.count(2), "", texts.FAILED_CAPTION]
