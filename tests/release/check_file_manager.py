#!/usr/bin/python3
"""The installed file-manager entries as a user meets them: Caja (with
caja-actions, which reads /usr/share/file-manager/actions) on an Xvfb
display of our own: a right-click on the background of a folder shown,
"digestbox" chosen from the menu, and the dialog that follows read through
the accessibility bus, which proves the folder it ran in. Then every other
entry's command line run as its file manager would run it. Ends with
'N passed, N failed'; run it inside dbus-run-session while the packages
are installed.

    dbus-run-session -- /usr/bin/python3 -m tests.release.check_file_manager"""

import configparser
import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

from tests.e2e.checks import Checks
from tests.e2e.gtk_session import OK_CAPTION, Session

ENTRIES = {  # installed entry: the field its file manager puts the folder in
    "/usr/share/nemo/actions/digestbox.nemo_action": ("Nemo Action", "%P"),
    "/usr/share/nemo/actions/digestbox-folder.nemo_action": ("Nemo Action", "%F"),
    "/usr/share/file-manager/actions/digestbox.desktop": ("X-Action-Profile folder", "%f"),
    "/usr/share/kio/servicemenus/digestbox.desktop": ("Desktop Action digestbox", "%f"),
}


def find(node, role, name, depth=0):
    """A showing descendant with that role and name."""
    if node is None or depth > 30:
        return None
    try:
        if (node.getRole() == role and node.name == name and
                node.getState().contains(pyatspi.STATE_SHOWING)):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), role, name, depth + 1)
            if found is not None:
                return found
    except Exception:  # a node that went away meanwhile
        pass
    return None


def menu_entry(timeout=15):
    """Caja's context-menu item "digestbox", once the menu is open; caja-
    actions keeps its entries in a submenu, opened on the way."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == "caja":
                item = find(app, pyatspi.ROLE_MENU_ITEM, "digestbox")
                if item is not None:
                    return item
                submenu = find(app, pyatspi.ROLE_MENU, "Caja-Actions actions")
                if submenu is not None:
                    submenu.queryAction().doAction(0)
        time.sleep(0.3)
    return None


def main():
    checks = Checks()
    root = tempfile.mkdtemp(prefix="digestbox-fm-")
    folder = os.path.join(root, "a folder")  # a space, as names have
    os.mkdir(folder)
    with open(os.path.join(folder, "a.txt"), "wb") as f:
        f.write(b"abc")
    with open(os.path.join(folder, "a.txt.md5"), "wb") as f:
        f.write(hashlib.md5(b"abc").hexdigest().encode() + b" *a.txt\n")
    session = Session("/usr/bin/digestbox", root)
    caja = None
    try:
        env = dict(session.env, HOME=root, XDG_CONFIG_HOME=os.path.join(root, "config"))
        # As from a desktop: no controlling terminal, which digestbox inherits.
        caja = subprocess.Popen(["caja", "--no-desktop", "--browser", folder], env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible",
                                 "--classname", "caja"], env=env, capture_output=True,
                                text=True, timeout=60).stdout.split()[-1]
        time.sleep(2)  # the folder's icons laid out
        # A right-click low in the view: the background, below the two icons.
        subprocess.run(["xdotool", "mousemove", "--window", window, "400", "380",
                        "click", "3"], env=env, timeout=30)
        item = menu_entry()
        checks.check("Caja: the folder's background menu offers digestbox", item is not None)
        if item is not None:
            subprocess.run(["import", "-window", "root",
                            os.path.join(os.getcwd(), "build", "caja-menu.png")],
                           env=env, capture_output=True)
            item.queryAction().doAction(0)
        session.process = caja
        session.started = time.perf_counter()
        dialog = session.dialog()
        checks.check("Caja: digestbox ran in the folder shown, as dialogs",
                     dialog is not None and dialog.kind == "Information" and
                     dialog.text == "a.txt - OK\n\n" + OK_CAPTION,
                     dialog and (dialog.kind, dialog.text))
        if dialog is not None:
            dialog.press("OK")
    finally:
        if caja is not None:
            caja.kill()
            caja.wait()
        session.close()

    # Every entry's command, expanded and run as its file manager runs it,
    # with a relative entry in PATH and a "digestbox" planted in the folder:
    # the installed program runs, never the planted one.
    marker = os.path.join(root, "planted-ran")
    planted = os.path.join(folder, "digestbox")
    with open(planted, "w") as f:
        f.write("#!/bin/sh\ntouch %s\n" % shlex.quote(marker))
    os.chmod(planted, 0o755)
    for path, (group, field) in ENTRIES.items():
        entry = configparser.ConfigParser(interpolation=None, strict=True)
        entry.optionxform = str
        entry.read(path, encoding="utf-8")
        command = shlex.split(entry[group]["Exec"].replace(field, shlex.quote(folder)))
        run = subprocess.run(command, cwd="/", stdin=subprocess.DEVNULL,
                             capture_output=True, start_new_session=True, timeout=60,
                             env=dict({k: v for k, v in os.environ.items()
                                       if k not in ("DISPLAY", "WAYLAND_DISPLAY")},
                                      PATH=".:" + os.environ.get("PATH", "")))
        checks.check("%s: runs the installed digestbox in the folder" % path,
                     run.returncode == 0 and "a.txt - OK" in run.stderr.decode() and
                     not os.path.exists(marker), run.stderr.decode()[-500:])
    os.remove(planted)
    with open("/usr/share/nautilus-python/extensions/digestbox.py") as f:
        checks.check("the Nautilus extension starts /usr/bin/digestbox",
                     'PROGRAM = "/usr/bin/digestbox"' in f.read())
    compiled = subprocess.run(["python3", "-m", "py_compile",
                               "/usr/share/nautilus-python/extensions/digestbox.py"],
                              capture_output=True, text=True,
                              env=dict(os.environ, PYTHONPYCACHEPREFIX=root))
    checks.check("the Nautilus extension compiles", compiled.returncode == 0,
                 compiled.stderr)
    shutil.rmtree(root, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
