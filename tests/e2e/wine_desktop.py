"""Wine cases of what a user sees and presses, run by run_wine: the keys on
the progress window, under a window manager (openbox), which gives the
window the focus as a desktop does (without one Wine gives it none and keys
prove nothing); and the README's font advice, on a fresh prefix."""

import os
import re
import shutil
import subprocess
import threading
import time

from tests import texts
from tests.e2e.checks import long_verification
from tests.e2e.wine import private_locale


def _keys(wine, *keys):
    """Keys pressed on the X server, as a keyboard would: they reach the
    window the window manager gave the focus."""
    subprocess.run(["xdotool", "key", "--delay", "100"] + list(keys),
                   env=wine.env, check=False)


def _active_title(wine):
    return subprocess.run(["xdotool", "getactivewindow", "getwindowname"],
                          env=wine.env, capture_output=True,
                          text=True).stdout.strip()


def _start_manager(wine):
    """openbox, once it manages the screen: a window mapped before would
    stay unmanaged and get no focus."""
    manager = subprocess.Popen(["openbox"], env=wine.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    for _ in range(100):
        if "window id" in subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=wine.env,
                capture_output=True, text=True).stdout:
            break
        time.sleep(0.1)
    return manager


def progress_keys(wine, runner, root):
    """A long verification: once its progress window has the focus, Return
    and Space cancel nothing; Tab to Cancel, then Space, cancels, and the
    report of what was checked and the records left follows."""
    if shutil.which("openbox") is None:
        print("[SKIP] progress keys: no openbox here (install-deps.sh test)")
        return
    folder = os.path.join(root, "keys")
    os.mkdir(folder)
    long_verification(folder)
    for name in ("big1.bin", "big2.bin"):  # minutes of hashing, no disk
        os.truncate(os.path.join(folder, name), 64 << 30)
    manager = _start_manager(wine)
    got, focused, kept = [], False, False
    try:
        drive = threading.Thread(target=lambda: got.extend(runner.drive(folder, "none")))
        drive.start()
        deadline = time.monotonic() + 60
        while drive.is_alive() and time.monotonic() < deadline and not focused:
            focused = _active_title(wine) == texts.VERIFY_TITLE
            time.sleep(0.2)
        _keys(wine, "Return", "space")
        time.sleep(2)
        kept = drive.is_alive() and _active_title(wine) == texts.VERIFY_TITLE
        _keys(wine, "Tab", "space")
        drive.join(120)
    finally:
        manager.terminate()
        manager.wait()
    runner.check("progress keys: the window takes the focus; Return and Space "
                 "cancel nothing", focused and kept, (focused, kept, got))
    # Whether the first record was checked by then is a matter of timing.
    if got:
        del runner.transcript[-len(got):]
    cancelled = texts.CANCELLED.split("%s")[0]
    runner.check("progress keys: Tab to Cancel, then Space, cancels",
                 any(line.startswith("text: ") and cancelled in line for line in got),
                 got)
    shutil.rmtree(folder)


def _probe(wine, probe, locale):
    env = dict(wine.env, LANG=locale, LC_ALL=locale)
    said = subprocess.run([wine.loader, probe], env=env, capture_output=True,
                          text=True).stdout
    return said.replace("\n", "; ")


def readme_fonts(wine, runner, root):
    """The README's Wine font command, run on this fresh prefix: a report
    line's Japanese drawn in the message font is no .notdef square, and its
    underscore and dots leave ink, in a C and a Japanese locale."""
    if not runner.last_program:  # the prefix's fonts, not the program's
        return
    probe = os.path.join(os.path.dirname(runner.driver), "font_probe.exe")
    faces = subprocess.run(["fc-list", ":family=IPAPGothic"], capture_output=True,
                           text=True).stdout
    if not faces or not os.path.exists(probe):
        print("[SKIP] README fonts: no IPAPGothic (fonts-ipafont-gothic) or no probe")
        return
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md"),
              encoding="utf-8") as f:
        advice = re.search(r"`wine reg add '([^']+)' /v '([^']+)' /d (\S+) /f`",
                           f.read())
    if advice is None:
        runner.check("README fonts: the README gives a `wine reg add` command", False)
        return
    key, value, face = advice.groups()
    locales = ["C.UTF-8"] + (["ja_JP.UTF-8"] if private_locale(wine, "ja_JP", "UTF-8")
                             else [])
    print("    before the advice: " + _probe(wine, probe, locales[-1]))
    wine.run([wine.loader, "reg", "add", key, "/v", value, "/d", face, "/f"],
             capture_output=True)
    try:
        said = [_probe(wine, probe, locale) for locale in locales]
    finally:
        wine.run([wine.loader, "reg", "delete", key, "/v", value, "/f"], check=False,
                 capture_output=True)
    runner.check("README fonts: no square, underscore and dots drawn (%s)"
                 % ", ".join(locales),
                 all(s == "squares: 0 of 10; marks: 3 of 3 inked; " for s in said), said)


CASES = [progress_keys, readme_fonts]
