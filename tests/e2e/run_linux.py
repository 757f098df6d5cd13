#!/usr/bin/env python3
"""The Linux program as a whole process: keys held on Xvfb, boxes answered at
a pseudo-terminal, files checked byte for byte, digest files cross-checked
with coreutils, and (with --valgrind) every run under valgrind's memcheck.
Ends with 'N passed, N failed'."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

from tests import texts
from tests.e2e import cancelled_runs, crowded_runs, kept_attributes, killed_runs
from tests.e2e.checks import Checks, files_of
from tests.e2e.linux_session import (
    Display, plant_module, run_at_terminal, run_without_terminal)
from tests.texts import shown

MD5_QUESTION = "[確認] %s\n%s\n" % (texts.QUESTION_CAPTION, shown(texts.MD5_QUESTION))
SHA1_QUESTION = "[確認] %s\n%s\n" % (texts.QUESTION_CAPTION, shown(texts.SHA1_QUESTION))
DONE = "[情報] %s\n%s\n" % (texts.DONE_CAPTION, texts.DONE)
NOTHING = "[エラー] digestbox\n%s\n" % shown(texts.NOTHING)
OK_CAPTION, FAILED_CAPTION = texts.OK_CAPTION, texts.FAILED_CAPTION


class Run:
    """What the cases share: the command, a display, a folder of their own."""

    def __init__(self, program, command, root, display, checks):
        self.program, self.command = program, command
        self.root, self.display, self.checks = root, display, checks

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path)
        return path

    def at_terminal(self, folder, keys, answers=None):
        return self.at_terminal_command(self.command, folder, keys, answers)

    def at_terminal_command(self, command, folder, keys, answers=None):
        return run_at_terminal(command, folder, self.display, keys, answers or [])


CONTENTS = {"abc.txt": b"abc", "empty": b"", "日本語 name.txt": "日本".encode(),
            "big.bin": os.urandom(300000),
            "caf\xe9".encode("latin-1").decode("utf-8", "surrogateescape"): b"x"}


def no_terminal(run):
    stderr, code = run_without_terminal(run.command, run.folder("work"))
    run.checks.check("no terminal, no key: the box on standard error, exit 0",
                     stderr == NOTHING + "[Enter] \n" and code == 0,
                     repr((stderr, code)))


def questions(run):
    checks, folder = run.checks, os.path.join(run.root, "work")
    for name, data in CONTENTS.items():
        with open(os.path.join(folder.encode(), name.encode("utf-8", "surrogateescape")), "wb") as f:
            f.write(data)
    before = files_of(folder)
    boxes, code = run.at_terminal(folder, "shift", ["n"])
    checks.check("shift, No: the MD5 question and nothing else",
                 boxes == [(MD5_QUESTION, "n")] and code == 0, (boxes, code))
    checks.check("shift, No: folder untouched", files_of(folder) == before)
    boxes, code = run.at_terminal(folder, "shift+ctrl", ["no"])
    checks.check("shift+ctrl, No: the SHA-1 question",
                 boxes == [(SHA1_QUESTION, "no")] and code == 0, (boxes, code))


def creation(run):
    checks, folder = run.checks, os.path.join(run.root, "work")
    before = files_of(folder)
    boxes, code = run.at_terminal(folder, "shift", ["yes"])
    # Under valgrind on a busy machine the run may outlast the quiet time:
    # its progress line, erased before the box, is not the box's.
    shown = [(text.rpartition("\r\x1b[K")[2].lstrip("\n"), answer)
             for text, answer in boxes]
    checks.check("shift, Yes: question then completion",
                 shown == [(MD5_QUESTION, "yes"), (DONE, "")] and code == 0,
                 (boxes, code))
    want = dict(before)
    for name, data in CONTENTS.items():
        raw = name.encode("utf-8", "surrogateescape")
        want[name + ".md5"] = hashlib.md5(data).hexdigest().encode() + b" *" + raw + b"\n"
    checks.check("shift, Yes: one record per file, byte for byte",
                 files_of(folder) == want)
    md5sum = subprocess.run("md5sum -c --strict *.md5", shell=True, cwd=folder,
                            capture_output=True)
    checks.check("coreutils md5sum -c accepts every digest file",
                 md5sum.returncode == 0, md5sum.stdout + md5sum.stderr)


def verification(run):
    checks, folder = run.checks, os.path.join(run.root, "work")
    boxes, code = run.at_terminal(folder, "none")
    report = boxes[0][0] if len(boxes) == 1 else ""
    checks.check("no key: every record OK",
                 report.startswith("[情報] %s\n" % OK_CAPTION) and
                 report.count(" - OK\n") == len(CONTENTS) and
                 report.endswith("\n\n%s\n" % OK_CAPTION) and code == 0, boxes)

    with open(os.path.join(folder, "abc.txt"), "wb") as f:
        f.write(b"abd")
    os.remove(os.path.join(folder, "big.bin"))
    boxes, code = run.at_terminal(folder, "ctrl")
    report = boxes[0][0] if len(boxes) == 1 else ""
    checks.check("ctrl alone: verification reports the change and the loss",
                 report.startswith("[エラー] %s\n" % FAILED_CAPTION) and
                 "abc.txt - %s\n" % texts.MISMATCH in report and
                 "big.bin - %s\n" % texts.UNREADABLE in report, boxes)

    boxes, code = run.at_terminal(folder, "shift+ctrl", ["はい"])
    checks.check("shift+ctrl, はい: SHA-1 digest files",
                 boxes == [(SHA1_QUESTION, "はい"), (DONE, "")] and code == 0, boxes)
    sha1sum = subprocess.run("sha1sum -c --strict *.sha1", shell=True,
                             cwd=folder, capture_output=True)
    checks.check("coreutils sha1sum -c accepts every SHA-1 file",
                 sha1sum.returncode == 0, sha1sum.stdout + sha1sum.stderr)


def hostile_names(run):
    """Names are data anyone can write: none may act on the terminal."""
    hostile = run.folder("hostile")
    with open(os.path.join(hostile, "a.txt"), "wb") as f:
        f.write(b"a")
    zeros = b"0" * 32
    with open(os.path.join(hostile, "list.md5"), "wb") as f:
        f.write(zeros + b" *a.txt\n" + zeros + b" *up\x1b[1A\x1b[2Kerase\n" +
                zeros + " *setup.exe\u034f\n".encode() + zeros + b" *C\\UEFI.txt\n" +
                zeros + b" *setup.exe\\u034f\n")
    with open(os.path.join(hostile.encode(), b"t\x1b]0;owned\x07\r\n.md5"), "wb") as f:
        f.write(b"abc odd-length digest\n")
    boxes, code = run.at_terminal(hostile, "none")
    stderr, _ = run_without_terminal(run.command, hostile)
    shown_text = "".join(text for text, _ in boxes)
    run.checks.check(
        "hostile names: shown inert and visible at the terminal and on stderr",
        len(boxes) == 2 and code == 0 and
        all(c not in shown_text + stderr for c in "\x1b\x07\r") and
        "[エラー] t\\x1b]0;owned\\x07\\x0d\\x0a.md5\n" in shown_text and
        "a.txt - %s\nup\\x1b[1A\\x1b[2Kerase - %s\nsetup.exe\\u034f - %s\n"
        "C\\UEFI.txt - %s\nsetup.exe\\\\u034f - %s" % (
            texts.MISMATCH, *[texts.UNREADABLE] * 4) in shown_text and
        stderr.replace("[Enter] \n", "") == shown_text.replace("[Enter] ", ""),
        (boxes, stderr))


def planted_module(run):
    """A downloaded folder with the program copied in, and a module planted
    beside it: never loaded, even where a display is named (a dead one)."""
    planted = run.folder("planted")
    marker = os.path.join(run.root, "planted-module-ran")
    plant_module(planted, marker)
    shutil.copy(run.program, planted)
    copied = [os.path.join(planted, os.path.basename(run.program))]
    stderr, code = run_without_terminal(run.command[:-1] + copied, planted, ":999")
    run.checks.check("a module planted beside a copied program is not loaded",
                     stderr == NOTHING + "[Enter] \n" and code == 0 and
                     not os.path.exists(marker), (stderr, code))


def samples(run):
    folder = os.path.join(run.root, "samples")
    shutil.copytree(os.path.join(os.path.dirname(__file__), "..", "..", "samples"),
                    folder)
    boxes, code = run.at_terminal(folder, "none")
    run.checks.check("the bundled samples verify",
                     len(boxes) == 1 and boxes[0][0].startswith("[情報]") and code == 0,
                     boxes)


def devices_never_opened(run):
    """Devices named in a list are never opened for reading: opening one may
    start a watchdog or rewind a tape. strace tells what was opened."""
    if shutil.which("strace") is None or "--valgrind" in sys.argv:
        print("[SKIP] devices never opened: no strace here, or under valgrind")
        return
    devices = ["/dev/zero", "/dev/urandom", "/dev/null", "/dev/full"]
    folder = run.folder("devices")
    with open(os.path.join(folder, "list.md5"), "w") as f:
        f.write("".join("%s *%s\n" % ("0" * 32, d) for d in devices))
    trace = os.path.join(run.root, "strace.txt")
    stderr, code = run_without_terminal(
        ["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", trace]
        + run.command, folder)
    with open(trace) as f:
        opened = [line for line in f if any('"%s"' % d in line for d in devices)
                  and "O_PATH" not in line]
    run.checks.check("devices named in a list: never opened for reading",
                     code == 0 and not opened and
                     stderr.count(" - " + texts.UNREADABLE) == len(devices),
                     (opened, stderr))


CASES = [no_terminal, questions, creation, verification, hostile_names,
         planted_module, samples, devices_never_opened,
         cancelled_runs.cancelled_at_terminal]


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    program = os.path.abspath(args[0] if args else "build/linux/digestbox")
    command = [program]
    if "--valgrind" in sys.argv:
        command = ["valgrind", "-q", "--leak-check=full",
                   "--show-leak-kinds=definite,indirect,possible",
                   "--errors-for-leak-kinds=definite,indirect,possible",
                   "--error-exitcode=9"] + command
    checks = Checks()
    root = tempfile.mkdtemp(prefix="digestbox-e2e-")
    display = Display()
    try:
        run = Run(program, command, root, display, checks)
        # Kills (SIGTERM included, which ends a run with its threads alive),
        # injected faults and a cancel's second need the program itself, not
        # valgrind.
        cases = CASES + ([] if "--valgrind" in sys.argv else
                         killed_runs.CASES + crowded_runs.CASES + kept_attributes.CASES +
                         [cancelled_runs.cancelled_while_a_read_hangs,
                          cancelled_runs.cancelled_while_a_list_hangs,
                          cancelled_runs.cancelled_while_the_listing_hangs,
                          cancelled_runs.cancelled_while_the_flush_hangs,
                          cancelled_runs.progress_line])
        chosen = [a[len("--case="):] for a in sys.argv if a.startswith("--case=")]
        for case in cases:
            if not chosen or case.__name__ in chosen:
                case(run)
    finally:
        display.close()
        shutil.rmtree(root, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
