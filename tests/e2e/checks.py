"""What the end-to-end scripts share: counted checks and a folder's files."""

import os


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
