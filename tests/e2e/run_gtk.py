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
import sys
import tempfile

from tests import texts
from tests.e2e.checks import Checks, long_verification
from tests.e2e.linux_session import plant_module
from tests.e2e.gtk_session import (
    FAILED_CAPTION, MD5_QUESTION, NOTHING, OK_CAPTION, UNREADABLE, Session,
    folder_in, one_box, write)


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
    counted = re.compile(r"1 / 3 件  \d+%")
    if dialog is not None:
        dialog.refresh_until(lambda d: counted.search(d.text) is not None)
    checks.check("a long run: a progress dialog with a bar and Cancel",
                 dialog is not None and dialog.title == texts.VERIFY_TITLE and
                 sorted(dialog.buttons) == ["Cancel"] and
                 dialog.progress is not None and
                 counted.search(dialog.text) is not None,
                 dialog and (dialog.shape(), dialog.text, dialog.progress))
    if dialog is None:
        session.finish()
        return
    session.screenshot(dialog, "progress")
    # Return, as if meant for another window, on the dialog: nothing is its
    # default or has the focus, so the run goes on.
    session.escape(dialog, "Return")
    session.escape(dialog, "space")
    dialog.redrawn()
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
