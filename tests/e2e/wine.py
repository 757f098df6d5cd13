"""A Wine prefix of its own on an Xvfb display of its own, for the Windows
programs' end-to-end runs (run_wine, the installer's check, the benchmark)."""

import os
import shutil
import subprocess
import tempfile

import pefile

from tests.e2e import qemu32
from tests.e2e.linux_session import Display

WINE64 = "/usr/lib/wine/wine64"


def bits_of(exe):
    machine = pefile.PE(exe, fast_load=True).FILE_HEADER.Machine
    return 64 if machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"] else 32


class Wine:
    def __init__(self, bits):
        self.root = tempfile.mkdtemp(prefix="digestbox-wine-")
        # Under qemu a 64-bit prefix, whose services and server stay native:
        # only the 32-bit programs run emulated, through its SysWOW64 half.
        self.emulated = bits == 32 and qemu32.emulated()
        wide = bits == 64 or self.emulated
        self.env = dict(os.environ, WINEDEBUG="-all",
                        WINEARCH="win64" if wide else "win32",
                        WINEPREFIX=os.path.join(self.root, "prefix"),
                        LANG="C.UTF-8", LC_ALL="C.UTF-8")
        # Debian's wine script prefers the 32-bit loader whenever installed.
        self.loader = "wine" if bits == 32 else WINE64
        if wide:
            self.env["WINELOADER"] = WINE64
        self.display = Display("1280x1024x24")
        self.env["DISPLAY"] = self.display.name
        self.run(["wineserver", "-k"], check=False)
        self.run([WINE64 if wide else self.loader, "wineboot", "-i"], check=False)

    def run(self, command, check=True, **kwargs):
        return subprocess.run(command, env=self.env, check=check, **kwargs)

    def windows_path(self, path):
        # A new prefix maps Z: to the Unix root. Working it out here spares a
        # winepath process per run, which now and then failed under load.
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def close(self):
        self.run(["wineserver", "-k"], check=False)
        self.display.close()
        shutil.rmtree(self.root, ignore_errors=True)


def private_locale(wine, language, charset):
    """Makes the locale in the prefix's folder and has Wine find it through
    LOCPATH, so that the system's locale set stays as it is."""
    folder = os.path.join(wine.root, "locales")
    made = os.path.join(folder, "%s.%s" % (language, charset))
    if not os.path.exists(os.path.join(made, "LC_CTYPE")):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["localedef", "-i", language, "-f", charset, made],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wine.env["LOCPATH"] = folder
    return os.path.exists(os.path.join(made, "LC_CTYPE"))
