"""The GTK dialogs as a screen reader reads them, through the accessibility
bus: a dialog's title, kind, text and buttons, its buttons pressed through
their actions, and the program started in a folder as from a desktop."""

import os
import subprocess
import time

import pyatspi

from tests import texts
from tests.e2e.linux_session import Display
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

    def refresh_until(self, ready, timeout=10):
        """Reads the dialog again until `ready(self)` holds or `timeout`
        seconds pass; whether it held."""
        deadline = time.time() + timeout
        while not ready(self) and time.time() < deadline:
            time.sleep(0.1)
            self.refresh()
        return ready(self)

    def redrawn(self, times=2):
        """Waits for the text to change `times` times, a redraw each: what
        was sent to the window before was handled by then."""
        for _ in range(times):
            before = self.text
            self.refresh_until(lambda d: d.text != before)

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
        ok = dialog.refresh_until(checks_open, timeout=5)
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
