#!/usr/bin/python3
"""Installs the Windows installer under Wine as a user would (msiexec /qn, no
elevation) and checks what it leaves: the program in
%LOCALAPPDATA%\\Programs\\digestbox, the folder-background verb and its
command, the Apps & features entry; that the installed program runs; that a
newer package replaces an older one; and that uninstalling leaves nothing.
Ends with 'N passed, N failed'.

    python3 -m tests.release.check_msi MSI EXE    (from the repository)

EXE is the program the package should hold. Where this kernel runs no
32-bit code, the whole check runs again in a namespace where qemu-user runs
it (tests/e2e/qemu32.py); where that cannot be had either, the runs use the
same package source built for 64 bits."""

import glob
import os
import subprocess
import sys
import tempfile

from tests.e2e import wine_runner
from tests.e2e.checks import Checks
from tests.e2e import qemu32
from tests.e2e.wine import Wine

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VERB = r"HKCU\Software\Classes\Directory\Background\shell\digestbox"
OWN_KEY = r"HKCU\Software\digestbox"
UNINSTALL = [root + r"\Software\Microsoft\Windows\CurrentVersion\Uninstall"
             for root in ("HKCU", "HKLM")]  # Wine keeps per-user ones in HKLM


def build_msi(arch, version, exe, out):
    """As scripts/release.sh builds it."""
    subprocess.run([os.path.join(ROOT, "scripts", "msi.sh"), arch, version,
                    os.path.relpath(exe, ROOT), os.path.abspath(out)],
                   check=True, capture_output=True)


def version_of(msi):
    table = subprocess.run(["msiinfo", "export", msi, "Property"], check=True,
                           capture_output=True, text=True).stdout
    return dict(line.split("\t", 1) for line in table.splitlines()
                if "\t" in line)["ProductVersion"]


class Installer:
    def __init__(self, wine):
        self.wine = wine
        self.folder = os.path.join(wine.env["WINEPREFIX"], "drive_c", "users")

    def msiexec(self, action, msi):
        return self.wine.run([self.wine.loader, "msiexec", action,
                              self.wine.windows_path(msi), "/qn"],
                             check=False, capture_output=True).returncode

    def reg(self, key):
        """The key's values and subkeys as `reg query /s` prints them, in
        both registry views (a 32-bit package writes to the 32-bit one); ""
        when there is no such key."""
        found = ""
        for view in ("/reg:64", "/reg:32"):
            out = self.wine.run([self.wine.loader, "reg", "query", key, "/s", view],
                                check=False, capture_output=True, text=True)
            found += out.stdout if out.returncode == 0 else ""
        return found

    def installed(self):
        return glob.glob(os.path.join(self.folder, "*", "AppData", "Local",
                                      "Programs", "digestbox", "*"))

    def entries(self):
        """The Apps & features entries named digestbox."""
        blocks = {block for key in UNINSTALL for block in self.reg(key).split("\n\n")}
        return sorted(b for b in blocks if "DisplayName    REG_SZ    digestbox" in b)

    def left(self):
        """Whatever of the package is still there."""
        return (self.installed() + glob.glob(os.path.join(
            self.folder, "*", "AppData", "Local", "Programs", "digestbox")) +
            [k for k in (VERB, OWN_KEY) if self.reg(k)] + self.entries())


def bits_of_msi(msi):
    return 32 if "Intel" in subprocess.run(
        ["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout else 64


def main():
    msi, exe = (os.path.abspath(a) for a in sys.argv[1:3])
    emulating = bits_of_msi(msi) == 32 and qemu32.why_not() is None
    status = qemu32.run_inside() if emulating else None
    if status is not None:
        return status
    checks = Checks()
    wine = Wine(64)
    work = tempfile.mkdtemp(dir=wine.root)
    installer = Installer(wine)
    try:
        version = version_of(msi)
        checks.check("installs per user with /qn", installer.msiexec("/i", msi) == 0)
        files = installer.installed()
        with open(exe, "rb") as f:
            same = len(files) == 1 and open(files[0], "rb").read() == f.read()
        checks.check("the program alone in %LOCALAPPDATA%\\Programs\\digestbox", same, files)
        path = '"C:\\users\\%s\\AppData\\Local\\Programs\\digestbox\\digestbox.exe"' % (
            files[0].split(os.sep)[-6] if files else "?")
        verb = installer.reg(VERB).split(VERB.split("\\", 1)[0])[0]  # one view
        checks.check("the folder-background verb: name, icon, command",
                     "(Default)    REG_SZ    digestbox\n" in verb and
                     "Icon    REG_SZ    %s,0\n" % path in verb and
                     "(Default)    REG_SZ    %s\n" % path in verb, verb)
        entries = installer.entries()
        checks.check("Apps & features: version and publisher",
                     len(entries) == 1 and "DisplayVersion    REG_SZ    %s" % version
                     in entries[0] and "Publisher    REG_SZ    the digestbox authors"
                     in entries[0], entries)
        checks.check("uninstalls", installer.msiexec("/x", msi) == 0)
        checks.check("nothing left after uninstalling", not installer.left(),
                     installer.left())

        # The runs need a program this kernel runs.
        runnable, newer = msi, os.path.join(work, "newer.msi")
        bits = bits_of_msi(msi)
        arch, program = "x86" if bits == 32 else "x64", exe
        if bits == 32 and qemu32.why_not() is not None:
            print("    (no 32-bit Wine here: %s; the runs use the package "
                  "built for 64 bits)" % qemu32.why_not())
            arch, program = "x64", os.path.join(ROOT, "build", "win64-release",
                                                "digestbox.exe")
            runnable = os.path.join(work, "runnable.msi")
            build_msi(arch, version, program, runnable)
        parts = version.split(".")
        build_msi(arch, ".".join(parts[:-1] + [str(int(parts[-1]) + 1)]), program, newer)
        build = wine_runner.Build(os.path.join(ROOT, "build", "win64" if arch == "x64" else "win32"))
        installer.msiexec("/i", runnable)
        runner = wine_runner.Runner(wine, build.driver, installer.installed()[0])
        empty = os.path.join(work, "empty")
        os.mkdir(empty)
        checks.check("the installed program runs: nothing to verify",
                     runner.drive(empty, "none") == wine_runner.box(
                         "Error", "error", "ok", wine_runner.NOTHING) + ["exit: 0"])
        rebuilt = os.path.join(work, "rebuilt.msi")
        build_msi(arch, version, program, rebuilt)
        checks.check("a rebuild of the same version replaces it: one entry",
                     installer.msiexec("/i", rebuilt) == 0 and
                     len(installer.entries()) == 1 and len(installer.installed()) == 1,
                     installer.entries())
        checks.check("a newer package replaces the older one",
                     installer.msiexec("/i", newer) == 0 and len(installer.entries()) == 1
                     and version not in installer.entries()[0], installer.entries())
        installer.msiexec("/x", newer)
        checks.check("nothing left after uninstalling the newer one",
                     not installer.left(), installer.left())
    finally:
        wine.close()
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
