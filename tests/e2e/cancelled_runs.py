"""Cases of the Linux program cancelled at a terminal, run by run_linux: a
cancel in every phase, with a read, a list, the listing or the flush
hung on a file system that does not answer; and the progress line."""

import fcntl
import os
import pty
import re
import select
import shutil
import signal
import struct
import tempfile
import termios
import time
import unicodedata

from tests import texts
from tests.e2e import fault_shim, stuck_fuse
from tests.e2e.checks import long_verification
from tests.e2e.linux_session import _environment, run_at_terminal

FAILED_CAPTION = texts.FAILED_CAPTION
# A cancel before any record was checked.
_UNREAD = "\n[警告] %s\n%s\n\n%s\n" % (FAILED_CAPTION, texts.CANCELLED_UNREAD,
                                       FAILED_CAPTION)


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


def _cancel_while_stuck(run, what, prepare, command=None, in_mount=False,
                        **cancel):
    """A folder in memory with a FUSE file system at mnt/ whose calls are
    never answered, made ready by `prepare(folder)`; Ctrl+C as
    _cancel_at_terminal says, in the folder or, `in_mount`, in mnt/ itself:
    (seconds to the box, the box, the exit code), the file system let go
    first. None where FUSE is missing."""
    folder = tempfile.mkdtemp(prefix="hang-", dir="/dev/shm")
    mount = os.path.join(folder, "mnt")
    server, why = stuck_fuse.mount(mount)
    if server is None:
        print("[SKIP] %s: %s" % (what, why))
        shutil.rmtree(folder)
        return None
    prepare(folder)
    waited, box, (pid, fd) = _cancel_at_terminal(
        command or run.command, mount if in_mount else folder, **cancel)
    if waited is None:
        os.kill(pid, signal.SIGKILL)  # it ends once the call is let go
    stuck_fuse.unmount(mount, server)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    shutil.rmtree(folder)
    return waited, box, os.waitstatus_to_exitcode(status)


def _three_records(folder):
    """a.txt, mnt/stuck.bin, c.txt in one list; a.txt and c.txt hold abc."""
    for name in ("a.txt", "c.txt"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"abc")
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(b"".join(b"900150983cd24fb0d6963f7d28e17f72 *%s\n" % name
                         for name in (b"a.txt", b"mnt/stuck.bin", b"c.txt")))


def _within_a_second(run, what, ran, expected):
    if ran is None:
        return
    waited, box, code = ran
    run.checks.check("%s (%s s)" % (what, waited),
                     waited is not None and waited < 1 and box == expected
                     and code == 0, box)


def cancelled_while_a_read_hangs(run):
    """The second record names a file whose READ is never answered (FUSE):
    with workers (a folder in memory) and on one CPU (the pass itself in the
    read), Ctrl+C brings the report so far within a second, before the line
    shows too; the process ends once the read is let go."""
    expected = "\n[警告] %s\na.txt - OK\n%s\n\n%s\n" % (
        FAILED_CAPTION, texts.CANCELLED % texts.count(2), FAILED_CAPTION)
    for cpus, after in (([], None), (fault_shim.ONE_CPU, None), ([], 1)):
        # Once a.txt counts as done: the line shows the count as soon as
        # the records are checked, maybe before the first is reported.
        ran = _cancel_while_stuck(run, "a read that hangs", _three_records,
                                  command=cpus + run.command,
                                  mark="1 / 3 件", after=after)
        if ran is None:
            return
        _within_a_second(
            run, "a read that hangs%s%s: Ctrl+C, the report within a second"
            % (" on one CPU" if cpus else "", " before the line" if after else ""),
            ran, expected)


def cancelled_while_a_list_hangs(run):
    """A digest file whose READ is never answered (FUSE): the line counts
    the digest files read, and Ctrl+C ends the reading within a second with
    a report of no line, none of its records read."""
    def prepare(folder):
        os.symlink(os.path.join("mnt", stuck_fuse.NAME.decode()),
                   os.path.join(folder, "stuck.md5"))
    ran = _cancel_while_stuck(
        run, "a list that hangs", prepare,
        mark=texts.PROGRESS_DIGEST_FILES % (texts.count(0), texts.count(1)))
    _within_a_second(run, "a list whose read hangs: counted at the terminal, "
                     "Ctrl+C, a report of no line within a second", ran,
                     _UNREAD)


def cancelled_while_the_flush_hangs(run):
    """Creation whose last flush never returns (the shim's hang, on the
    pass's thread): Ctrl+C within a second brings the box that says every
    digest file took its name and the flush is unconfirmed."""
    folder = run.folder("flush")
    for i in range(50):
        with open(os.path.join(folder, "f%02d.dat" % i), "wb") as f:
            f.write(b"x")
    log = os.path.join(run.root, "flush-steps.log")
    shim = ["env", "LD_PRELOAD=" + fault_shim.library(run)]
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
    ran = _cancel_while_stuck(run, "a listing that hangs", lambda folder: None,
                              in_mount=True, after=1)
    _within_a_second(run, "a listing that hangs: Ctrl+C before the line, a "
                     "report of no count within a second", ran, _UNREAD)


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
