#!/usr/bin/env python3
"""The Linux program as a whole process: keys held on Xvfb, boxes answered at
a pseudo-terminal, files checked byte for byte, digest files cross-checked
with coreutils, and (with --valgrind) every run under valgrind's memcheck.
Ends with 'N passed, N failed'."""

import fcntl
import hashlib
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unicodedata

from tests import texts
from tests.e2e import kept_attributes, killed_runs, stuck_fuse
from tests.e2e.checks import Checks, files_of, long_verification
from tests.e2e.linux_session import (Display, _environment, plant_module,
                                     run_at_terminal, run_without_terminal)
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


def cancelled_at_terminal(run):
    """A long verification: its line redrawn in place, Ctrl+C, the report of
    what was checked, and the records left."""
    folder = run.folder("long")
    report = long_verification(folder)
    boxes, code = run_at_terminal(run.command, folder, run.display, "none",
                                  interrupt_on="件".encode())
    shown = boxes[0][0] if len(boxes) == 1 else ""
    line, _, box = shown.rpartition("\r\x1b[K")
    # Nothing failed before the cancel: the warning icon, once.
    expected = "\n[警告] %s\n%s\n" % (FAILED_CAPTION, "\n".join(report))
    run.checks.check("a long run at a terminal: its line, Ctrl+C, the report so far",
                     line.startswith("\r%s  " % texts.VERIFY_TITLE) and
                     re.search(r"  1 / 3 件  \d+%", line) is not None and
                     box == expected and code == 0, (line[-300:], box, code))
    shutil.rmtree(folder)


def _cancel_at_terminal(command, folder, timeout=30, mark="件", after=None,
                        display=None):
    """Ctrl+C once the progress line shows `mark` (or `after` seconds from
    the start, or from the Yes where `display` holds SHIFT for a creation,
    before any line): (seconds from it to the box, the box, the pid). The
    box is answered; the process may not end yet."""
    if display:
        display.hold("shift")
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execvpe(command[0], command, _environment(display))
    output, cancelled, deadline = b"", None, time.time() + timeout
    early = None if after is None or display else time.time() + after
    while time.time() < deadline:
        if early is not None and cancelled is None and time.time() >= early:
            os.write(fd, b"\x03")
            cancelled = time.perf_counter()
        if not select.select([fd], [], [], 0.05)[0]:
            continue
        try:
            output += os.read(fd, 1 << 16)
        except OSError:
            break
        if display and early is None and output.endswith(b"(y/n) "):
            display.release()
            os.write(fd, b"y\n")
            output, early = b"", time.time() + after
        if cancelled is None and mark.encode() in output:
            os.write(fd, b"\x03")
            cancelled = time.perf_counter()
        if cancelled is not None and output.endswith(b"[Enter] "):
            waited = time.perf_counter() - cancelled
            os.write(fd, b"\n")
            text = output[:-len(b"[Enter] ")].decode("utf-8", "replace")
            # Where no line was drawn, the terminal's echo of the Ctrl+C.
            text = text.replace("\r\n", "\n").rpartition("\r\x1b[K")[2]
            return waited, text.replace("^C", "", 1), (pid, fd)
    return None, output.decode("utf-8", "replace")[-300:], (pid, fd)


def cancelled_while_a_read_hangs(run):
    """The second record names a file whose READ is never answered (FUSE):
    with workers (a folder in memory) and on one CPU (the pass itself in the
    read), Ctrl+C brings the report so far within a second, before the line
    shows too; the process ends once the read is let go."""
    for cpus, after in (([], None), (killed_runs.ONE_CPU, None), ([], 1)):
        folder = tempfile.mkdtemp(prefix="hang-", dir="/dev/shm")
        server, why = stuck_fuse.mount(os.path.join(folder, "mnt"))
        if server is None:
            print("[SKIP] a read that hangs: %s" % why)
            shutil.rmtree(folder)
            return
        for name in ("a.txt", "c.txt"):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"abc")
        with open(os.path.join(folder, "all.md5"), "wb") as f:
            f.write(b"".join(b"900150983cd24fb0d6963f7d28e17f72 *%s\n" % name
                             for name in (b"a.txt", b"mnt/stuck.bin", b"c.txt")))
        # Once a.txt counts as done: the line shows the count as soon as
        # the records are checked, maybe before the first is reported.
        waited, box, (pid, fd) = _cancel_at_terminal(
            cpus + run.command, folder, mark="1 / 3 件", after=after)
        if waited is None:
            os.kill(pid, signal.SIGKILL)  # it ends once the read is let go
        stuck_fuse.unmount(os.path.join(folder, "mnt"), server)
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        expected = "\n[警告] %s\na.txt - OK\n%s\n\n%s\n" % (
            FAILED_CAPTION, texts.CANCELLED % texts.count(2), FAILED_CAPTION)
        run.checks.check("a read that hangs%s%s: Ctrl+C, the report within a "
                         "second (%s s)" % (" on one CPU" if cpus else "",
                                            " before the line" if after else "",
                                            waited),
                         waited is not None and waited < 1 and box == expected
                         and os.waitstatus_to_exitcode(status) == 0, box)
        shutil.rmtree(folder)


def cancelled_while_a_list_hangs(run):
    """A digest file whose READ is never answered (FUSE): the line counts
    the digest files read, and Ctrl+C ends the reading within a second with
    a report of no line, none of its records read."""
    folder = tempfile.mkdtemp(prefix="hang-", dir="/dev/shm")
    server, why = stuck_fuse.mount(os.path.join(folder, "mnt"))
    if server is None:
        print("[SKIP] a list that hangs: %s" % why)
        shutil.rmtree(folder)
        return
    os.symlink(os.path.join("mnt", stuck_fuse.NAME.decode()),
               os.path.join(folder, "stuck.md5"))
    waited, box, (pid, fd) = _cancel_at_terminal(
        run.command, folder, mark=texts.PROGRESS_DIGEST_FILES % (texts.count(0), texts.count(1)))
    if waited is None:
        os.kill(pid, signal.SIGKILL)
    stuck_fuse.unmount(os.path.join(folder, "mnt"), server)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    expected = "\n[警告] %s\n%s\n\n%s\n" % (FAILED_CAPTION, texts.CANCELLED_UNREAD,
                                            FAILED_CAPTION)
    run.checks.check("a list whose read hangs: counted at the terminal, Ctrl+C, "
                     "a report of no line within a second (%s s)" % waited,
                     waited is not None and waited < 1 and box == expected
                     and os.waitstatus_to_exitcode(status) == 0, box)
    shutil.rmtree(folder)


def cancelled_while_the_flush_hangs(run):
    """Creation whose last flush never returns (the shim's hang, on the
    pass's thread): Ctrl+C within a second brings the box that says every
    digest file took its name and the flush is unconfirmed."""
    folder = run.folder("flush")
    for i in range(50):
        with open(os.path.join(folder, "f%02d.dat" % i), "wb") as f:
            f.write(b"x")
    log = os.path.join(run.root, "flush-steps.log")
    shim = ["env", "LD_PRELOAD=" + killed_runs._shim(run)]
    run.at_terminal_command(shim + ["STEPS_LOG=" + log] + run.command, folder,
                            "shift", ["y"])
    with open(log) as f:
        last = sum(line.startswith("syncfs ") for line in f)
    waited, box, (pid, fd) = _cancel_at_terminal(
        shim + ["INJECT_CALL=syncfs", "INJECT_NTH=%d" % last,
                "INJECT_FAULT=hang"] + run.command, folder, after=1,
        display=run.display)
    os.kill(pid, signal.SIGKILL)  # the hang never ends
    os.waitpid(pid, 0)
    os.close(fd)
    # After the answer's echo.
    expected = "\n[警告] %s\n%s\n" % (texts.DONE_CAPTION,
                                     texts.CREATE_CANCELLED_UNFLUSHED)
    run.checks.check("a last flush that hangs: Ctrl+C, the box within a "
                     "second (%s s)" % waited,
                     waited is not None and waited < 1 and
                     box.endswith(expected), box)
    shutil.rmtree(folder)


def cancelled_while_the_listing_hangs(run):
    """A folder whose listing is never answered (FUSE): Ctrl+C before the
    line shows brings, within a second, a report that no record was
    checked, with no count, which nobody knows."""
    folder = tempfile.mkdtemp(prefix="hang-", dir="/dev/shm")
    server, why = stuck_fuse.mount(os.path.join(folder, "mnt"))
    if server is None:
        print("[SKIP] a listing that hangs: %s" % why)
        shutil.rmtree(folder)
        return
    waited, box, (pid, fd) = _cancel_at_terminal(
        run.command, os.path.join(folder, "mnt"), after=1)
    if waited is None:
        os.kill(pid, signal.SIGKILL)
    stuck_fuse.unmount(os.path.join(folder, "mnt"), server)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    expected = "\n[警告] %s\n%s\n\n%s\n" % (FAILED_CAPTION, texts.CANCELLED_UNREAD,
                                            FAILED_CAPTION)
    run.checks.check("a listing that hangs: Ctrl+C before the line, a report "
                     "of no count within a second (%s s)" % waited,
                     waited is not None and waited < 1 and box == expected
                     and os.waitstatus_to_exitcode(status) == 0, box)
    shutil.rmtree(folder)


def _columns(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def _line_until_sigterm(command, folder, columns, term):
    """Runs at a terminal `columns` wide under TERM=`term` until the progress
    line was drawn twice, then sends SIGTERM: (output, wait status)."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execvpe(command[0], command, dict(_environment(None), TERM=term))
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    output, deadline, sent = b"", time.time() + 60, False
    while time.time() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                chunk = os.read(fd, 1 << 16)
            except OSError:
                chunk = b""
            output += chunk
        if not sent and output.count("件".encode()) >= 2:
            os.kill(pid, signal.SIGTERM)
            sent = True
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            os.close(fd)
            return output.decode("utf-8", "replace"), status
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(fd)
    return output.decode("utf-8", "replace"), None


def progress_line(run):
    """The progress line at 40 and 80 columns with a tab in the name: it
    never wraps, the tab shows as \\x09, and SIGTERM erases it; TERM=dumb
    gets plain lines and no escape."""
    folder = run.folder("line")
    long_verification(folder)
    os.rename(os.path.join(folder, "big1.bin"), os.path.join(folder, "big\t1.bin"))
    with open(os.path.join(folder, "all.md5"), "rb") as f:
        listed = f.read().replace(b"*big1.bin", b"*big\t1.bin")
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(listed)
    for columns, term in ((40, "xterm"), (80, "xterm"), (80, "dumb")):
        output, status = _line_until_sigterm(run.command, folder, columns, term)
        if term == "dumb":
            lines = output.split("\n")
            fine = "\x1b" not in output and output.endswith("\n")
        else:
            lines = [line.lstrip("\r") for line in output.split("\x1b[K")]
            fine = output.endswith("\r\x1b[K")
        lines = [line for line in lines if line]
        fine = (fine and lines and status is not None and os.WIFSIGNALED(status) and
                os.WTERMSIG(status) == signal.SIGTERM and "\t" not in output and
                all(re.search(r"1 / 3 件  \d+%", line) for line in lines) and
                all(_columns(line) <= columns - 3 for line in lines))
        if columns == 80:
            fine = fine and any("big\\x091.bin" in line for line in lines)
        run.checks.check("the progress line at %d columns, TERM=%s: fits, a tab "
                         "shown, SIGTERM erases it" % (columns, term), fine,
                         (lines[-3:], status))
    shutil.rmtree(folder)


CASES = [no_terminal, questions, creation, verification, hostile_names,
         planted_module, samples, devices_never_opened, cancelled_at_terminal]


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
                         killed_runs.CASES + kept_attributes.CASES +
                         [cancelled_while_a_read_hangs,
                          cancelled_while_a_list_hangs,
                          cancelled_while_the_listing_hangs,
                          cancelled_while_the_flush_hangs,
                          progress_line])
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
