#!/usr/bin/python3
"""The Linux program in a GNOME Wayland session: a headless mutter on a
private session bus and a private system bus, run by an unprivileged user
(mutter will not run as root). Keys are held through mutter's remote-desktop
service, the dialogs read through the accessibility bus; each start must
show the right first dialog, and No must leave the folder as it was. Ends
with 'N passed, N failed' (or a skip where mutter is not installed).

    python3 -m tests.e2e.run_wayland build/linux/digestbox    (as root)
    python3 -m tests.e2e.run_wayland /usr/bin/digestbox       (installed)"""

import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

from tests import texts
from tests.e2e.checks import skip
from tests.texts import shown

USER = "digestbox-wayland"
DISPLAY_NAME = "wl-digestbox"
KEYCODES = {"shift": [42], "ctrl": [29], "shift+ctrl": [42, 29], "none": []}


def main():
    program = os.path.abspath(sys.argv[1])
    # The probe module the program loads: beside a build's program, or in
    # the installed library folder.
    module = os.path.join(os.path.dirname(program), "wayland-keys.so")
    if not os.path.exists(module):
        module = (subprocess.run(["sh", "-c", "ls /usr/lib/*/digestbox/wayland-keys.so"],
                                 capture_output=True, text=True).stdout.split() or [""])[0]
    if shutil.which("mutter") is None:
        return skip("no mutter here")
    if subprocess.run(["id", USER], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--system", "--create-home", USER], check=True)
    if subprocess.run(["runuser", "-u", USER, "--", "test", "-x", program]).returncode:
        return skip("%s cannot reach %s (a folder on the way is closed to others)"
                    % (USER, program))
    root = tempfile.mkdtemp(prefix="digestbox-wayland-")
    os.chmod(root, 0o755)
    runtime = os.path.join(root, "runtime")
    os.mkdir(runtime, 0o700)
    shutil.chown(runtime, USER)
    try:
        # The suites, where that user can read them, wherever the checkout is.
        tests = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        shutil.copytree(tests, os.path.join(root, "tree", "tests"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        env = {"PATH": os.environ["PATH"], "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8",
               "HOME": os.path.expanduser("~" + USER), "XDG_RUNTIME_DIR": runtime,
               "PYTHONDONTWRITEBYTECODE": "1"}
        return subprocess.run(
            ["runuser", "-u", USER, "--", "dbus-run-session", "--", "/usr/bin/python3",
             "-m", "tests.e2e.run_wayland", "--inside", program, module],
            cwd=os.path.join(root, "tree"), env=env, timeout=600).returncode
    finally:
        shutil.rmtree(root, ignore_errors=True)


class Keyboard:
    """mutter's remote-desktop keyboard: keys stay held until released."""

    def __init__(self):
        from gi.repository import Gio, GLib
        self.GLib = GLib
        bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        service = "org.gnome.Mutter.RemoteDesktop"
        for _ in range(100):  # mutter takes its names once it is up
            try:
                desktop = Gio.DBusProxy.new_sync(bus, 0, None, service,
                                                 "/org/gnome/Mutter/RemoteDesktop", service)
                path = desktop.call_sync("CreateSession", None, 0, -1, None).unpack()[0]
                break
            except GLib.Error:
                time.sleep(0.1)
        self.session = Gio.DBusProxy.new_sync(bus, 0, None, service, path,
                                              service + ".Session")
        self.session.call_sync("Start", None, 0, -1, None)
        self.held = []
        # The virtual keyboard comes with its first key: tap one.
        for pressed in (True, False):
            self.key(1, pressed)  # Escape

    def key(self, code, pressed):
        self.session.call_sync("NotifyKeyboardKeycode",
                               self.GLib.Variant("(ub)", (code, pressed)), 0, -1, None)

    def hold(self, keys):
        for code in KEYCODES[keys]:
            self.key(code, True)
            self.held.append(code)

    def release(self):
        while self.held:
            self.key(self.held.pop(), False)


def dialogs_by_keys(checks, keyboard, program, app, folder):
    """The dialog each key combination brings, answered No or OK."""
    from tests.e2e.gtk_session import Dialog, find_alert
    with open(os.path.join(folder, "a.txt"), "wb") as f:
        f.write(b"abc")
    question, nothing = texts.QUESTION_CAPTION, shown(texts.NOTHING)
    for keys, kind, title, text in (
            ("none", "Error", "digestbox", nothing), ("ctrl", "Error", "digestbox", nothing),
            ("shift", "Question", question, shown(texts.MD5_QUESTION)),
            ("shift+ctrl", "Question", question, shown(texts.SHA1_QUESTION))):
        keyboard.hold(keys)
        run = subprocess.Popen([program], cwd=folder, env=app, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               start_new_session=True)
        dialog = None
        deadline = time.time() + 30
        while dialog is None and time.time() < deadline and run.poll() is None:
            alert = find_alert()
            dialog = Dialog(alert, None, None) if alert is not None else None
            time.sleep(0.1)
        keyboard.release()
        # On Wayland GTK draws the title itself: the first label.
        checks.check("%s held: the %s dialog" % (keys, kind),
                     dialog is not None and dialog.kind == kind and
                     dialog.texts == [title, text], dialog and (dialog.kind, dialog.texts))
        if dialog is not None:
            dialog.press("No" if kind == "Question" else "OK")
        try:
            _, err = run.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            run.kill()
            _, err = run.communicate()
        checks.check("%s held: exit 0, nothing written" % keys,
                     run.returncode == 0 and os.listdir(folder) == ["a.txt"],
                     (run.returncode, err, os.listdir(folder)))


def inside(program, module):
    from tests.e2e.checks import Checks
    checks = Checks()
    runtime = os.environ["XDG_RUNTIME_DIR"]
    system = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                             "--print-pid=1"], capture_output=True, text=True).stdout.split()
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=system[0])
    mutter = subprocess.Popen(["mutter", "--headless", "--wayland", "--no-x11",
                               "--wayland-display", DISPLAY_NAME,
                               "--virtual-monitor", "800x600"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    folder = tempfile.mkdtemp(dir=runtime)
    try:
        for _ in range(100):
            if os.path.exists(os.path.join(runtime, DISPLAY_NAME)):
                break
            time.sleep(0.1)
        keyboard = Keyboard()
        app = dict(env, WAYLAND_DISPLAY=DISPLAY_NAME, GDK_BACKEND="wayland")
        app.pop("DISPLAY", None)

        # The probe alone, for the time it takes.
        keyboard.hold("shift")
        os.environ["WAYLAND_DISPLAY"] = DISPLAY_NAME
        probe = ctypes.CDLL(module)
        shift, ctrl = ctypes.c_int(), ctypes.c_int()
        started = time.perf_counter()
        focused = probe.digestbox_probe_keys(300, ctypes.byref(shift), ctypes.byref(ctrl))
        took = (time.perf_counter() - started) * 1000
        keyboard.release()
        print("    the probe answered in %.1f ms" % took)
        checks.check("the probe reads SHIFT held", (focused, shift.value, ctrl.value) == (1, 1, 0))

        dialogs_by_keys(checks, keyboard, program, app, folder)
    finally:
        mutter.terminate()
        mutter.wait()
        if len(system) > 1:
            subprocess.run(["kill", system[1]])
        shutil.rmtree(folder, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(inside(*sys.argv[2:4]) if sys.argv[1] == "--inside" else main())
