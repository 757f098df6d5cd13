"""Creation among what others leave, run by run_linux: few descriptors or
none left, temporary files of other runs, and a name swapped for a link
while it is read."""

import os
import shutil
import subprocess
import tempfile

from tests import texts
from tests.e2e.killed_runs import OLD, TEMPORARY, fill, read, record_of
from tests.e2e import fault_shim


def few_descriptors(run):
    """EMFILE on one of creation's own opens (the old name's check, the
    temporary digest file) while workers or staged files hold descriptors:
    they let them go and the run completes; with none, the error shows."""
    # In memory: a folder on a disk that seeks is hashed without workers.
    folder = tempfile.mkdtemp(prefix="emfile-", dir="/dev/shm")
    files = fill(folder, 300)
    shim = fault_shim.library(run)
    faults = []
    for cpus, path, nth in (([], "f00005.dat.md5", 1), ([], ".", 3),
                            (fault_shim.ONE_CPU, ".", 3), (fault_shim.ONE_CPU, ".", 1)):
        for name in files:
            with open(os.path.join(folder, name + ".md5"), "wb") as f:
                f.write(OLD)
        boxes, code = run.at_terminal_command(
            cpus + ["env", "LD_PRELOAD=" + shim, "INJECT_CALL=openat",
                    "INJECT_PATH=" + path, "INJECT_NTH=%d" % nth,
                    "INJECT_FAULT=emfile"] + run.command, folder, "shift",
            ["y"])
        new = [n for n, data in files.items()
               if read(folder, n + ".md5") == record_of(n, data)]
        done = any(texts.DONE in box for box, _ in boxes)
        if cpus and nth == 1:
            ok = not done and "Too many open files" in boxes[-1][0]
        else:
            ok = done and len(new) == len(files) and code == 0
        if not ok:
            faults.append((cpus, path, len(new), boxes[-1:], code))
    shutil.rmtree(folder)
    run.checks.check("EMFILE on the pass's own opens: the workers let theirs "
                     "go and the run completes; alone, the error", not faults,
                     faults)


def descriptors_run_out(run):
    """Verification at a terminal with a display (its connection holds a
    descriptor all the run), 2,000 records in one list: under ulimit -Sn 6,
    raised at start, every record OK; under ulimit -n 6, every record OK or
    the system's message alone. Never a record blamed, never the box that
    says there is no digest file."""
    folder = tempfile.mkdtemp(prefix="emfile-", dir="/dev/shm")
    files = fill(folder, 2000)
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        for name, data in files.items():
            os.remove(os.path.join(folder, name + ".md5"))
            f.write(record_of(name, data))
    faults = []
    for limit in ("-Sn", "-n"):
        for _ in range(4):
            boxes, _ = run.at_terminal_command(
                ["bash", "-c", 'ulimit %s 6 && exec "$@"' % limit, "bash"] +
                run.command, folder, "none")
            text = "".join(box for box, _ in boxes)
            ok = len(boxes) == 1 and (
                text.startswith("[情報] " + texts.OK_CAPTION) or
                (limit == "-n" and "Too many open files" in text))
            if not ok or texts.UNREADABLE in text or texts.NOTHING[:20] in text:
                faults.append((limit, [b[:200] for b, _ in boxes]))
    shutil.rmtree(folder)
    run.checks.check("out of descriptors in verification (ulimit -Sn 6, -n 6): "
                     "all OK or the system's message, nothing blamed",
                     not faults, faults)


def _strays_in(run, folder, where):
    """A user's file of the temporary files' name form, beside true strays
    (empty, zeros, a whole record, a cut one): the user's is kept and gets
    its digest file, the strays are removed."""
    record = record_of("a.txt", b"abc")
    planted = {".~digestbox-1-1.tmp": b"user data", ".~digestbox-2-1.tmp": b"",
               ".~digestbox-3-1.tmp": b"\0" * 45,
               ".~digestbox-4-1.tmp": record, ".~digestbox-5-1.tmp": record[:40]}
    for name, data in dict(planted, **{"a.txt": b"abc"}).items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    boxes, _ = run.at_terminal(folder, "shift", ["y"])
    left = [n for n in os.listdir(folder) if TEMPORARY.match(n)]
    user = ".~digestbox-1-1.tmp"
    run.checks.check("%s: a user's file of the temporary name form kept and "
                     "given its digest file; empty, zeroed, whole and cut "
                     "strays removed" % where,
                     any(texts.DONE in b for b, _ in boxes) and left == [user] and
                     read(folder, user) == b"user data" and
                     read(folder, user + ".md5") == record_of(user, b"user data"),
                     (boxes[-1:], left))


def _quiet(argv):
    return subprocess.run(argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def strays(run):
    """Strays here, on ext4, and on NTFS through ntfs-3g on a loop device
    (fuseblk: local, though FUSE), each skipped, saying why, where root, loop
    devices, /dev/fuse or ntfs-3g are missing."""
    _strays_in(run, run.folder("strays"), run.root)
    if os.geteuid() != 0 or not os.path.exists("/dev/loop-control"):
        print("[SKIP] strays on ext4 and ntfs-3g: needs root and loop devices")
        return
    for kind in ("ext4", "ntfs-3g"):
        if kind == "ntfs-3g" and not (shutil.which("mkntfs") and
                                      os.path.exists("/dev/fuse")):
            print("[SKIP] strays on ntfs-3g: no mkntfs or /dev/fuse")
            continue
        image = os.path.join(run.root, kind + ".img")
        mounted = run.folder("strays-" + kind)
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        made = _quiet(["mkfs.ext4", "-q", "-F", image] if kind == "ext4" else
                      ["mkntfs", "-q", "-F", "-f", image])
        loop = subprocess.run(["losetup", "--find", "--show", image],
                              capture_output=True, text=True).stdout.strip()
        try:
            if not (made and loop and _quiet(["mount", "-t", kind, loop,
                                                mounted])):
                print("[SKIP] strays on %s: the image could not be mounted" % kind)
                continue
            _strays_in(run, mounted, subprocess.run(
                ["findmnt", "-n", "-o", "FSTYPE", mounted],
                capture_output=True, text=True).stdout.strip())
        finally:
            _quiet(["umount", mounted])
            if loop:
                _quiet(["losetup", "-d", loop])
            os.remove(image)


def swapped_for_a_link(run):
    """A checked file swapped, between its check and its open, for a link
    to a FIFO: the FIFO is never opened (its writer stays blocked), and the
    record is told as not read. On one CPU, so that files before it were
    opened by the same thread."""
    folder = run.folder("swap")
    lines = b""
    for name in ["f%d.txt" % i for i in range(9)] + ["b.txt"]:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(name.encode())
        lines += record_of(name, name.encode())
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(lines)
    fifo = os.path.join(folder, "fifo")
    os.mkfifo(fifo)
    os.symlink("fifo", os.path.join(folder, "link"))
    writer = subprocess.Popen(["sh", "-c", "echo x > fifo"], cwd=folder)
    command = fault_shim.ONE_CPU + ["env", "LD_PRELOAD=" + fault_shim.library(run), "SWAP_NAME=b.txt",
                         "SWAP_FROM=link"] + run.command
    boxes, _ = run.at_terminal_command(command, folder, "none")
    opened = writer.poll() is not None
    writer.kill()
    writer.wait()
    report = "".join(b for b, _ in boxes)
    run.checks.check("a file swapped for a link to a FIFO after its check: "
                     "the FIFO not opened, the record not read",
                     not opened and "b.txt" in report and
                     os.path.islink(os.path.join(folder, "b.txt")),
                     (opened, report))


CASES = [few_descriptors, swapped_for_a_link, strays, descriptors_run_out]
