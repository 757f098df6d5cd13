#!/usr/bin/python3
"""The Debian packages as a user gets them: lintian finds no error and no
warning, the GTK package recommends a Japanese font, they install, the installed program runs once without a display
(its box on standard error) and once in a graphical session (one GTK
dialog), its file-manager entries start it in a folder (check_file_manager),
and purging them leaves none of their files. Run as root; ends
with 'N passed, N failed'.

    python3 -m tests.release.check_packages DIST    (from the repository)"""

import glob
import os
import subprocess
import sys
import tempfile

from tests import texts
from tests.e2e.checks import Checks
from tests.texts import shown

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = ["digestbox", "digestbox-gtk"]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def check_recommends(checks, debs):
    """The dialogs are drawn in a Japanese font, which an English desktop
    lacks: the GTK package brings one; the program alone, for servers,
    brings none."""
    fields = {}
    for deb in debs:
        name = run(["dpkg-deb", "-f", deb, "Package"]).stdout.strip()
        fields[name] = run(["dpkg-deb", "-f", deb, "Depends", "Recommends"]).stdout
    checks.check("digestbox-gtk recommends a Japanese font",
                 "Recommends: fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic\n"
                 in fields.get("digestbox-gtk", ""), fields)
    checks.check("digestbox stays light: no font, no GTK",
                 "font" not in fields.get("digestbox", "font") and
                 "libgtk" not in fields["digestbox"], fields)


def main():
    dist = sys.argv[1] if len(sys.argv) > 1 else "dist"
    debs = sorted(glob.glob(os.path.join(dist, "digestbox_*.deb")) +
                  glob.glob(os.path.join(dist, "digestbox-gtk_*.deb")))
    checks = Checks()
    checks.check("two packages", len(debs) == 2, debs)
    lintian = run(["lintian", "--fail-on", "error,warning", "-I", "--pedantic"] + debs)
    print(lintian.stdout + lintian.stderr)
    checks.check("lintian: no error, no warning", lintian.returncode == 0)
    check_recommends(checks, debs)

    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    installed = run(["apt-get", "install", "-y", "-q", "--no-install-recommends"] +
                    [os.path.abspath(d) for d in debs], env=env)
    checks.check("both install", installed.returncode == 0, installed.stdout[-2000:] + installed.stderr)
    try:
        files = [f for f in run(["dpkg", "-L"] + PACKAGES).stdout.split("\n")
                 if os.path.isfile(f) or os.path.islink(f)]
        print("installed files:\n  " + "\n  ".join(files))
        with tempfile.TemporaryDirectory() as empty:
            quiet = {k: v for k, v in os.environ.items()
                     if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            alone = subprocess.run(["/usr/bin/digestbox"], cwd=empty, env=quiet,
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   start_new_session=True, timeout=60)
            err = alone.stderr.decode("utf-8", "replace")
            checks.check("no display: nothing to verify, on standard error, exit 0",
                         alone.returncode == 0 and err.startswith(
                             "[エラー] digestbox\n" + shown(texts.NOTHING)),
                         (alone.returncode, err))
        dialog = subprocess.run(
            ["dbus-run-session", "--", "/usr/bin/python3", "-m", "tests.e2e.run_gtk",
             "/usr/bin/digestbox", "--installed"], cwd=ROOT, capture_output=True,
            text=True, timeout=300)
        print("    " + dialog.stdout.rstrip("\n").replace("\n", "\n    "))
        checks.check("a graphical session: one GTK dialog from the installed module",
                     dialog.returncode == 0, dialog.stdout[-2000:] + dialog.stderr[-2000:])
        wayland = subprocess.run(
            ["/usr/bin/python3", "-m", "tests.e2e.run_wayland", "/usr/bin/digestbox"],
            cwd=ROOT, capture_output=True, text=True, timeout=600)
        print("    " + wayland.stdout.rstrip("\n").replace("\n", "\n    "))
        checks.check("a GNOME Wayland session: keys read through the installed probe",
                     wayland.returncode == 0 and "skipped" not in wayland.stdout,
                     wayland.stdout[-2000:] + wayland.stderr[-2000:])
        menus = subprocess.run(
            ["dbus-run-session", "--", "/usr/bin/python3", "-m",
             "tests.release.check_file_manager"], cwd=ROOT, capture_output=True,
            text=True, timeout=300)
        print("    " + menus.stdout.rstrip("\n").replace("\n", "\n    "))
        checks.check("the file managers' entries start it in the folder",
                     menus.returncode == 0, menus.stdout[-2000:] + menus.stderr[-2000:])
    finally:
        purged = run(["apt-get", "purge", "-y", "-q"] + PACKAGES, env=env)
    checks.check("both purge", purged.returncode == 0, purged.stdout + purged.stderr)
    left = [f for f in files if os.path.lexists(f)]
    checks.check("purged: none of their files left", not left, left)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
