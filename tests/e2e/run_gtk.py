#!/usr/bin/python3
"""The Linux program started as from a desktop, with no terminal: its GTK
dialogs read as a screen reader reads them, through the accessibility bus,
on an Xvfb display of our own. Each dialog's title (from X11), kind, text and
buttons are checked, and the buttons pressed through their actions. Ends
with 'N passed, N failed'.

    dbus-run-session -- /usr/bin/python3 -m tests.e2e.run_gtk build/linux/digestbox
    ... -m tests.e2e.run_gtk /usr/bin/digestbox --installed    (one dialog only)

Run it with Debian's python3, which has gi and pyatspi. A screenshot of each
kind of dialog is saved in the program's folder, under gtk-screenshots/
(not with --installed)."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

from tests import texts
from tests.e2e.checks import Checks, long_verification
from tests.e2e.linux_session import Display, plant_module
from tests.texts import shown

NOTHING = shown(texts.NOTHING)
MD5_QUESTION = shown(texts.MD5_QUESTION)
SHA1_QUESTION = shown(texts.SHA1_QUESTION)
OK_CAPTION, FAILED_CAPTION = texts.OK_CAPTION, texts.FAILED_CAPTION
UNREADABLE = texts.UNREADABLE


class Dialog:
    """One dialog as the accessibility bus shows it."""

    def __init__(self, alert, title, window):
        self.alert = alert
        self.kind = alert.name  # "Error", "Warning", "Information", "Question"
        self.title = title
        self.window = window
        self.refresh()

    def refresh(self):
        """Reads the dialog again: texts, buttons, selection, scrolling."""
        self.texts = []
        self.buttons = {}
        self.default = None
        self.selectable = []  # per label: can its text be selected?
        self.selected = ""    # what the text view has selected
        self.selected_shown = False  # whether the selection is in view
        self.progress = None  # a progress bar's value
        self.text_names = []  # the accessible names of the text views
        self.description = self.alert.description
        self._walk(self.alert)
        self.text = "".join(self.texts)

    def _walk(self, node):
        state = node.getState()
        if not state.contains(pyatspi.STATE_SHOWING):
            return
        role = node.getRole()
        if role in (pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT):
            text = node.queryText()
            value = text.getText(0, text.characterCount)
            if value:
                self.texts.append(value)
            if role == pyatspi.ROLE_LABEL and value:
                # A label whose text cannot be selected refuses a selection.
                self.selectable.append(bool(text.addSelection(0, 1)))
            if role == pyatspi.ROLE_TEXT:
                self.text_names.append(node.name)
            if role == pyatspi.ROLE_TEXT and text.getNSelections() > 0:
                start, end = text.getSelection(0)
                self.selected = value[start:end]
                # In view: within the scrolled pane around the text.
                x, y, w, h = text.getCharacterExtents(start, pyatspi.DESKTOP_COORDS)
                pane = node.parent.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                self.selected_shown = pane.y <= y and y + h <= pane.y + pane.height
        elif role == pyatspi.ROLE_PROGRESS_BAR:
            self.progress = node.queryValue().currentValue
            self.texts.append("[%s]\n" % node.name)
        elif role == pyatspi.ROLE_PUSH_BUTTON:
            name = node.name.replace("_", "")
            self.buttons[name] = node
            if state.contains(pyatspi.STATE_IS_DEFAULT):
                self.default = name
        for i in range(node.childCount):
            self._walk(node.getChildAtIndex(i))

    def press(self, name):
        self.buttons[name].queryAction().doAction(0)

    def shape(self):
        return (self.kind, self.title, sorted(self.buttons), self.default)

    def size(self):
        """The window's width and height on the screen."""
        out = subprocess.run(["xdotool", "getwindowgeometry", self.window],
                             capture_output=True, text=True,
                             env=dict(os.environ, DISPLAY=self.display)).stdout
        width, height = out.split("Geometry: ")[1].split()[0].split("x")
        return int(width), int(height)


def find_alert():
    """The program's showing dialog on the accessibility bus, or None."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is None or app.name != "digestbox":
                continue
            for k in range(app.childCount):
                window = app.getChildAtIndex(k)
                if (window.getRole() == pyatspi.ROLE_ALERT and
                        window.getState().contains(pyatspi.STATE_SHOWING)):
                    return window
        except Exception:  # an application that went away meanwhile
            continue
    return None


class Session:
    """Starts the program as a launcher would and reads its dialogs."""

    def __init__(self, program, shots):
        self.program = program
        self.shots = shots
        self.display = Display("1024x768x24")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("WAYLAND_DISPLAY", "NO_AT_BRIDGE")}
        self.env.update(DISPLAY=self.display.name, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.process = None

    def start(self, folder, keys="none", program=None):
        self.display.hold(keys)
        # A session of its own: no controlling terminal, as from a desktop.
        self.process = subprocess.Popen(
            [program or self.program], cwd=folder, env=self.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)
        self.started = time.perf_counter()

    def dialog(self, timeout=30):
        """The program's showing dialog, polled for; None when it has none."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.process.poll() is not None:
                return None
            alert = find_alert()
            if alert is not None:
                self.display.release()
                window = self._window()
                if window:
                    title = subprocess.run(
                        ["xdotool", "getwindowname", window], env=self.env,
                        capture_output=True, text=True).stdout.rstrip("\n")
                    dialog = Dialog(alert, title, window)
                    dialog.display = self.display.name
                    dialog.shown = time.perf_counter() - self.started
                    return dialog
            time.sleep(0.1)
        return None

    def _window(self):
        found = subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--classname", "digestbox"],
            env=self.env, capture_output=True, text=True).stdout.split()
        return found[-1] if found else None

    def screenshot(self, dialog, name):
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["import", "-window", dialog.window,
                        os.path.join(self.shots, name + ".png")],
                       env=self.env, capture_output=True)

    def escape(self, dialog, key="Escape"):
        subprocess.run(["xdotool", "windowfocus", "--sync", dialog.window,
                        "key", "--clearmodifiers", key], env=self.env)

    def finish(self):
        """Waits for the program to end: (exit code, standard error)."""
        try:
            _, err = self.process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            _, err = self.process.communicate()
        self.display.release()
        return self.process.returncode, err.decode("utf-8", "replace")

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.display.close()


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def one_box(checks, session, name, folder, shape, text, shot=None, keys="none",
            program=None, checks_open=None):
    """A run that shows one OK box: checked, pressed, and the run's end.
    `checks_open(dialog)`, polled for a few seconds while the dialog is
    open (a view scrolls once laid out), must come true too."""
    session.start(folder, keys, program)
    dialog = session.dialog()
    # Records come in directory order, which no test can fix.
    ok = (dialog is not None and dialog.shape() == shape and
          sorted(dialog.text.split("\n")) == sorted(text.split("\n")))
    if ok and checks_open:
        deadline = time.time() + 5
        while not checks_open(dialog) and time.time() < deadline:
            time.sleep(0.2)
            dialog.refresh()
        ok = checks_open(dialog)
    checks.check(name, ok, dialog and (dialog.shape(), dialog.text[:300],
                                       dialog.selectable[:5], dialog.selected,
                                       dialog.selected_shown))
    if dialog is not None:
        if shot:
            session.screenshot(dialog, shot)
        dialog.press("OK")
    code, err = session.finish()
    checks.check(name + ": exit 0, nothing on standard error",
                 code == 0 and err == "", (code, err))
    return dialog


def folder_in(root, name):
    path = os.path.join(root, name)
    os.mkdir(path)
    return path


def questions_and_creation(checks, session, root):
    folder = folder_in(root, "files")
    write(folder, "a.txt", b"abc")
    write(folder, "b.txt", b"xyz")
    before = sorted(os.listdir(folder))

    session.start(folder, "shift")
    question = session.dialog()
    checks.check("shift: the MD5 question, Yes the default",
                 question is not None and question.shape() ==
                 ("Question", texts.QUESTION_CAPTION, ["No", "Yes"], "Yes") and
                 question.text == MD5_QUESTION,
                 question and (question.shape(), question.text))
    if question is not None:
        session.screenshot(question, "question")
        question.press("No")
    code, err = session.finish()
    checks.check("shift, No: exit 0, nothing written",
                 code == 0 and sorted(os.listdir(folder)) == before, (code, err))

    session.start(folder, "shift")
    question = session.dialog()
    if question is not None:
        session.escape(question)
    code, err = session.finish()
    checks.check("shift, Escape: answers No, nothing written",
                 question is not None and code == 0 and
                 sorted(os.listdir(folder)) == before, (code, err))

    session.start(folder, "shift")
    question = session.dialog()
    if question is not None:
        question.press("Yes")
    done = session.dialog()
    checks.check("shift, Yes: then the completion dialog",
                 done is not None and done.shape() ==
                 ("Information", texts.DONE_CAPTION, ["OK"], "OK") and
                 done.text == texts.DONE,
                 done and (done.shape(), done.text))
    if done is not None:
        done.press("OK")
    code, err = session.finish()
    with open(os.path.join(folder, "a.txt.md5"), "rb") as f:
        record = f.read()
    checks.check("shift, Yes: digest files written, exit 0",
                 code == 0 and record == hashlib.md5(b"abc").hexdigest().encode()
                 + b" *a.txt\n" and os.path.exists(os.path.join(folder, "b.txt.md5")),
                 (code, err, record))


def verification(checks, session, root):
    folder = os.path.join(root, "files")
    one_box(checks, session, "verification: success", folder,
            ("Information", OK_CAPTION, ["OK"], "OK"),
            "a.txt - OK\nb.txt - OK\n\n" + OK_CAPTION, "information")

    write(folder, "b.txt", b"changed")
    write(folder, "c.md5", b"0" * 32 + b" *up\x1b[1A\x1b[2Kerase\n" +
          b"0" * 32 + " *setup.exe\u034f\n".encode())
    one_box(checks, session, "verification: failure, names shown inert", folder,
            ("Error", FAILED_CAPTION, ["OK"], "OK"),
            "a.txt - OK\nb.txt - %s\nup\\x1b[1A\\x1b[2Kerase - %s\n"
            "setup.exe\\u034f - %s\n\n%s"
            % (texts.MISMATCH, UNREADABLE, UNREADABLE, FAILED_CAPTION))


def long_name(checks, session, root):
    """A long name wraps within the screen, and the text can be copied."""
    wide = folder_in(root, "wide")
    name = "n" * 227
    write(wide, name, b"")
    write(wide, "w.md5", (hashlib.md5(b"").hexdigest() + " *" + name + "\n").encode())
    one_box(checks, session, "a 227-character name", wide,
            ("Information", OK_CAPTION, ["OK"], "OK"),
            name + " - OK\n\n" + OK_CAPTION, "long-name", checks_open=lambda d: (
                d.size()[0] <= 1024 and d.size()[1] <= 768 and
                d.selectable and all(d.selectable)))


def long_reports(checks, session, root):
    for count, failing, shot in ((20000, 15000, "long-report"), (100000, 0, None)):
        many = folder_in(root, "many%d" % count)
        write(many, "a", b"")
        names = ["gone" if i == failing else "a" for i in range(1, count + 1)]
        write(many, "a.md5", "".join("%s *%s\n" % (hashlib.md5(b"").hexdigest(), n)
                                     for n in names).encode())
        lines = "".join(n + (" - " + UNREADABLE if n == "gone" else " - OK") + "\n"
                        for n in names)
        caption = FAILED_CAPTION if failing else OK_CAPTION
        dialog = one_box(checks, session, "a report of %d records" % count, many,
                         ("Error" if failing else "Information", caption, ["OK"], "OK"),
                         lines + "\n" + caption, shot, checks_open=lambda d: (
                             # The verdict, where a screen reader starts.
                             d.description == caption and d.text_names == [caption] and
                             (not failing or (d.selected == "gone - " + UNREADABLE and
                                              d.selected_shown))))
        if dialog is not None:
            print("    shown %.2f s after start" % dialog.shown)


def cancelled(checks, session, root):
    """A long verification: its progress dialog read and cancelled, then the
    report of what was checked and the records left."""
    folder = folder_in(root, "long")
    lines = long_verification(folder)
    session.start(folder)
    dialog = session.dialog()
    if dialog is not None:
        time.sleep(1)  # an update or two
        dialog.refresh()
    checks.check("a long run: a progress dialog with a bar and Cancel",
                 dialog is not None and dialog.title == texts.VERIFY_TITLE and
                 sorted(dialog.buttons) == ["Cancel"] and
                 dialog.progress is not None and
                 re.search(r"1 / 3 件  \d+%", dialog.text) is not None,
                 dialog and (dialog.shape(), dialog.text, dialog.progress))
    if dialog is None:
        session.finish()
        return
    session.screenshot(dialog, "progress")
    # Return, as if meant for another window, on the dialog: nothing is its
    # default or has the focus, so the run goes on.
    session.escape(dialog, "Return")
    session.escape(dialog, "space")
    time.sleep(0.5)
    dialog.refresh()
    checks.check("a long run: Return and Space on its dialog do not cancel",
                 dialog.progress is not None and sorted(dialog.buttons) == ["Cancel"],
                 (dialog.text, dialog.buttons))
    session.escape(dialog, "Tab")  # to Cancel: the keys reach the dialog
    session.escape(dialog, "space")
    report = session.dialog()
    # Nothing failed before the cancel: the warning icon.
    checks.check("cancelled: the report so far and the records left, a warning",
                 report is not None and
                 report.shape() == ("Warning", FAILED_CAPTION, ["OK"], "OK") and
                 report.text == "\n".join(lines),
                 report and (report.shape(), report.text))
    if report is not None:
        report.press("OK")
    code, err = session.finish()
    checks.check("cancelled: exit 0, nothing on standard error",
                 code == 0 and err == "", (code, err))
    shutil.rmtree(folder)


def planted_module(checks, session, root):
    """A copy of the program in a folder that someone else made, with a
    module planted beside it: the dialog comes from the real module."""
    planted = folder_in(root, "planted")
    marker = os.path.join(root, "planted-module-ran")
    plant_module(planted, marker)
    shutil.copy(session.program, planted)
    one_box(checks, session, "a planted module is not loaded", planted,
            ("Error", "digestbox", ["OK"], "OK"), NOTHING,
            program=os.path.join(planted, "digestbox"))
    checks.check("a planted module never ran", not os.path.exists(marker))


CASES = [questions_and_creation, verification, long_name, long_reports,
         cancelled, planted_module]


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    installed = "--installed" in sys.argv
    program = os.path.abspath(args[0] if args else "build/linux/digestbox")
    shots = os.path.join(os.path.dirname(program), "gtk-screenshots")
    checks = Checks()
    root = tempfile.mkdtemp(prefix="digestbox-gtk-")
    session = Session(program, shots)
    try:
        one_box(checks, session, "nothing to verify: an error dialog",
                folder_in(root, "empty"), ("Error", "digestbox", ["OK"], "OK"),
                NOTHING, None if installed else "error")
        for case in [] if installed else CASES:
            case(checks, session, root)
    finally:
        session.close()
        shutil.rmtree(root, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
