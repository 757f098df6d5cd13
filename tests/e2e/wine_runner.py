"""The Windows program driven under Wine: its build folder, the box driver
that holds the keys and reads every box, and the texts the cases expect."""

import os
import re
import subprocess
import sys

from tests import texts
from tests.e2e.checks import Checks
from tests.texts import escaped


REPOSITORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


MD5_QUESTION = escaped(texts.MD5_QUESTION)


SHA1_QUESTION = escaped(texts.SHA1_QUESTION)


NOTHING = escaped(texts.NOTHING)


OK_CAPTION, FAILED_CAPTION = texts.OK_CAPTION, texts.FAILED_CAPTION


MISMATCH, UNREADABLE = texts.MISMATCH, texts.UNREADABLE


QUESTION_CAPTION = texts.QUESTION_CAPTION


class Build:
    """A build folder of the win32 or win64 preset: its program, the box
    driver and the unit suites."""

    def __init__(self, folder=os.path.join(REPOSITORY, "build", "win32")):
        folder = os.path.abspath(folder)
        self.program = os.path.join(folder, "digestbox.exe")
        self.driver = os.path.join(folder, "tests", "box_driver.exe")
        self.suites = [os.path.join(folder, "tests", name) for name in
                       ("digestbox_tests.exe", "digestbox_fault_tests.exe")]


def box(caption, icon, buttons, text, answer=None):
    lines = ["box", "caption: " + caption, "icon: " + icon,
             "buttons: " + buttons, "text: " + text]
    if answer:
        lines.append("answer: " + answer)
    return lines


DONE = box(texts.DONE_CAPTION, "information", "ok", texts.DONE)


class Runner(Checks):
    """Drives one program through the box driver and keeps its transcript."""

    def __init__(self, wine, driver, program):
        super().__init__()
        self.wine = wine
        self.driver = driver
        self.program = program
        self.transcript = []  # every box of every run, in order
        self.last_program = True  # the last of the programs named

    def drive(self, folder, keys, answers="-", locale=None, trace=None,
              kill_ms=None, cancel_ms=None):
        """The run's boxes; with `trace` (a list), Wine's file-system trace
        of the run is appended to it. With `kill_ms`, the program is ended
        that long after the first answer, and the run is left out of the
        transcript (where it ended is a matter of timing). With `cancel_ms`,
        a progress window is read that long after it shows and cancelled.
        `locale` is one locale, or a pair (system, user) set apart."""
        transcript = os.path.join(self.wine.root, "transcript.txt")
        env = dict(self.wine.env)
        if isinstance(locale, tuple):
            # Wine takes the system code page from LC_CTYPE, the user's
            # locale (and the thread's code page) from LC_MESSAGES.
            env.pop("LC_ALL", None)
            env.update(LANG=locale[1], LC_CTYPE=locale[0], LC_MESSAGES=locale[1])
        elif locale:
            env.update(LANG=locale, LC_ALL=locale)
        if trace is not None:
            env["WINEDEBUG"] = "+file"
        if cancel_ms is not None:
            env["BOX_DRIVER_CANCEL_MS"] = str(cancel_ms)
        run = subprocess.run([self.wine.loader, self.driver,
                              self.wine.windows_path(self.program),
                              self.wine.windows_path(folder), keys, answers,
                              self.wine.windows_path(transcript)]
                             + ([] if kill_ms is None else [str(kill_ms)]), env=env,
                             check=True, timeout=300, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        said = run.stdout.decode("utf-8", "replace")
        sys.stdout.write(said)
        shown = re.findall(r"shown (\d+) ms", said)
        self.shown_ms = int(shown[-1]) if shown else None
        if trace is not None:
            trace += run.stderr.decode("utf-8", "replace").splitlines()
        with open(transcript, encoding="utf-8") as f:
            lines = f.read().splitlines()
        if kill_ms is None:
            self.transcript += lines
        return lines

    def expect(self, name, folder, keys, answers, boxes, exit_code=0):
        expected = [line for b in boxes for line in b] + ["exit: %d" % exit_code]
        got = self.drive(folder, keys, answers)
        self.check(name, got == expected,
                   "expected:\n  " + "\n  ".join(expected) +
                   "\ngot:\n  " + "\n  ".join(got))


def folder_in(root, name, files=None):
    path = os.path.join(root, name)
    os.mkdir(path)
    for file_name, data in (files or {}).items():
        with open(os.path.join(path, file_name), "wb") as f:
            f.write(data)
    return path


def report_of(got):
    """The report box's lines, sorted (records come in directory order)."""
    text = [line[6:] for line in got if line.startswith("text: ")]
    return sorted(text[-1].split("\\r\\n")) if text else []
