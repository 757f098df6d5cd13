"""Creation ended at every step of writing a digest file, by a kill or a
failing system call (an interposed libc injects both), and at random
moments: every digest file is the old one byte for byte or the new one,
never empty."""

import hashlib
import os
import random
import re
import shutil
import subprocess
import tempfile

from tests import texts

OLD = b"0123456789abcdef0123456789abcdef *an older record\n"
TEMPORARY = re.compile(r"^\.~digestbox-\d+-\d+\.tmp$")
# The calls of one digest file's writing, by their system calls' names.
STEPS = ("newfstatat", "openat", "write", "close", "linkat", "fsync", "rename",
         "syncfs")
# One CPU: no worker is started, so the pass's calls come in one order.
ONE_CPU = ["taskset", "-c", "0"]
# The libc calls behind those system calls, counted and failed on the pass's
# thread only (strace counts per thread, and cannot tell one thread from
# another): LD_PRELOAD of this, with STEPS_LOG to list them, or INJECT_CALL,
# INJECT_NTH and INJECT_FAULT (eio, emfile, kill) to fail one; with
# INJECT_PATH, the nth call on that path only. NO_TMPFILE refuses unnamed
# files on every thread, as vfat and FUSE file systems do. SWAP_NAME and
# SWAP_FROM rename SWAP_FROM over SWAP_NAME right after SWAP_NAME is first
# asked with lstat, as someone racing the reader would. INJECT_FAULT=hang
# never returns, as a flush on a file system that does not answer.
SHIM = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
static int counts[16];
static int Step(int id, const char* call, const char* path) {
  if (syscall(SYS_gettid) == getpid()) return 0;
  int n = __atomic_add_fetch(&counts[id], 1, __ATOMIC_SEQ_CST);
  const char* log = getenv("STEPS_LOG");
  if (log) {
    char line[600];
    int size = snprintf(line, sizeof line, "%s %d %s\n", call, n,
                        path ? path : "");
    int fd = syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_APPEND | O_CREAT, 0644);
    syscall(SYS_write, fd, line, size);
    syscall(SYS_close, fd);
  }
  const char* inject = getenv("INJECT_CALL");
  if (!inject || strcmp(inject, call) != 0) return 0;
  const char* only = getenv("INJECT_PATH");
  static int matched;
  if (only && (!path || strcmp(only, path) != 0)) return 0;
  if (only) n = __atomic_add_fetch(&matched, 1, __ATOMIC_SEQ_CST);
  if (atoi(getenv("INJECT_NTH")) != n) return 0;
  const char* fault = getenv("INJECT_FAULT");
  if (strcmp(fault, "kill") == 0) syscall(SYS_kill, getpid(), SIGKILL);
  while (strcmp(fault, "hang") == 0) pause();
  errno = strcmp(fault, "emfile") == 0 ? EMFILE : EIO;
  return 1;
}
#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))
int open(const char* p, int f, ...) {
  va_list a; va_start(a, f); mode_t m = va_arg(a, int); va_end(a);
  if ((f & O_TMPFILE) == O_TMPFILE && getenv("NO_TMPFILE")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return Step(1, "openat", p) ? -1 : REAL(open)(p, f, m);
}
int openat(int d, const char* p, int f, ...) {
  va_list a; va_start(a, f); mode_t m = va_arg(a, int); va_end(a);
  return Step(1, "openat", p) ? -1 : REAL(openat)(d, p, f, m);
}
int fstat(int fd, struct stat* s) { return Step(0, "newfstatat", 0) ? -1 : REAL(fstat)(fd, s); }
int fstatat(int d, const char* p, struct stat* s, int f) {
  return Step(0, "newfstatat", p) ? -1 : REAL(fstatat)(d, p, s, f);
}
static void Swap(const char* p) {
  const char* swap = getenv("SWAP_NAME");
  static int swapped;
  if (swap && strcmp(swap, p) == 0 && !__atomic_exchange_n(&swapped, 1, __ATOMIC_SEQ_CST))
    REAL(rename)(getenv("SWAP_FROM"), p);
}
int lstat(const char* p, struct stat* s) {
  if (Step(0, "newfstatat", p)) return -1;
  int r = REAL(lstat)(p, s);
  Swap(p);
  return r;
}
int stat(const char* p, struct stat* s) {
  int r = REAL(stat)(p, s);
  Swap(p);
  return r;
}
ssize_t write(int fd, const void* b, size_t n) { return Step(2, "write", 0) ? -1 : REAL(write)(fd, b, n); }
int close(int fd) { return Step(3, "close", 0) ? -1 : REAL(close)(fd); }
int linkat(int a, const char* p, int b, const char* q, int f) {
  return Step(4, "linkat", q) ? -1 : REAL(linkat)(a, p, b, q, f);
}
int fsync(int fd) { return Step(5, "fsync", 0) ? -1 : REAL(fsync)(fd); }
int rename(const char* p, const char* q) { return Step(6, "rename", q) ? -1 : REAL(rename)(p, q); }
int syncfs(int fd) { return Step(7, "syncfs", 0) ? -1 : REAL(syncfs)(fd); }
"""


def _shim(run):
    library = os.path.join(run.root, "steps.so")
    if not os.path.exists(library):
        source = os.path.join(run.root, "steps.c")
        with open(source, "w") as f:
            f.write(SHIM)
        subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", library, source,
                        "-ldl"], check=True)
    return library


def _with_shim(run, **settings):
    """The program run on one CPU with the shim and `settings` in its
    environment."""
    return ONE_CPU + ["env", "LD_PRELOAD=" + _shim(run)] + [
        "%s=%s" % item for item in settings.items()] + run.command


def _record(name, data):
    return hashlib.md5(data).hexdigest().encode() + b" *" + name.encode() + b"\n"


def _fill(folder, count, size=64):
    files = {}
    for i in range(count):
        name = "f%05d.dat" % i
        data = os.urandom(size)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, name + ".md5"), "wb") as f:
            f.write(OLD)
        files[name] = data
    return files


def _damage(folder, files):
    """Digest files that are neither the old one nor the new one, and the
    temporary files left."""
    wrong = []
    for name, data in files.items():
        with open(os.path.join(folder, name + ".md5"), "rb") as f:
            held = f.read()
        if held not in (OLD, _record(name, data)):
            wrong.append((name, held))
    strays = [n for n in os.listdir(folder) if TEMPORARY.match(n)]
    return wrong, strays


def _injected_runs(run, folder, **settings):
    """(call, occurrence) for each call of the pass from the check of
    a.txt.md5 to the final flush, found by a run without faults."""
    log = os.path.join(run.root, "steps.txt")
    run.at_terminal_command(_with_shim(run, STEPS_LOG=log, **settings), folder,
                            "shift", ["y"])
    steps = []
    with open(log) as f:
        for line in f:
            call, nth, path = (line.rstrip("\n").split(" ", 2) + [""])[:3]
            if steps or (call == "newfstatat" and path == "a.txt.md5"):
                steps.append((call, int(nth)))
    os.remove(log)
    return steps


def every_step(run):
    """A kill or an error at each call of the writing of a digest file, with
    unnamed temporary files and with named ones, leaves the old file or the
    new, and only a new one is called done. A temporary name is left only by
    a kill where the file had one, and the next run removes it."""
    folder = run.folder("steps")
    with open(os.path.join(folder, "a.txt"), "wb") as f:
        f.write(b"abc")
    new = _record("a.txt", b"abc")

    def reset():
        for name in os.listdir(folder):
            if name != "a.txt":
                os.remove(os.path.join(folder, name))
        with open(os.path.join(folder, "a.txt.md5"), "wb") as f:
            f.write(OLD)

    for named in (False, True):
        mode = {"NO_TMPFILE": "1"} if named else {}
        reset()
        steps = _injected_runs(run, folder, **mode)
        calls = [call for call, _ in steps]
        run.checks.check("the shim sees the writing of the digest file (%s)"
                         % ("named" if named else "unnamed"),
                         "rename" in calls and ("linkat" in calls) != named,
                         steps)
        faults, left = [], 0
        for call, nth in steps:
            for fault in ("eio", "emfile", "kill"):
                reset()
                boxes, _ = run.at_terminal_command(
                    _with_shim(run, INJECT_CALL=call, INJECT_NTH=nth,
                               INJECT_FAULT=fault, **mode),
                    folder, "shift", ["y"])
                wrong, strays = _damage(folder, {"a.txt": b"abc"})
                with open(os.path.join(folder, "a.txt.md5"), "rb") as f:
                    held = f.read()
                done = any(texts.DONE in box for box, _ in boxes)
                if wrong or (done and held != new):
                    faults.append((call, nth, fault, wrong, boxes[-1:]))
                # Unnamed, the file has a name only from its link to its
                # rename.
                named_then = named or (call == "rename" and "linkat" in
                                       calls[:steps.index((call, nth))])
                if not strays:
                    continue
                if fault != "kill" or not named_then or len(strays) > 1:
                    faults.append(("left", call, nth, fault, strays))
                    continue
                left += 1
                boxes, _ = run.at_terminal_command(
                    _with_shim(run, **mode), folder, "shift", ["y"])
                wrong, strays = _damage(folder, {"a.txt": b"abc"})
                if wrong or strays or not any(texts.DONE in b for b, _ in boxes):
                    faults.append(("not removed", call, nth, wrong, strays))
        run.checks.check("%s temporary files: a kill or an error at each of %d "
                         "steps: old or new, never less; %d left by kills, "
                         "each removed by the next run"
                         % ("named" if named else "unnamed", len(steps), left),
                         not faults and steps, faults)


def random_kills(run):
    """2,000 files whose digest files exist, creation killed at random
    moments, with unnamed temporary files and with named ones: every digest
    file is old or new after each kill; unnamed, a temporary file is left
    only by a kill in its link (a few in 50, with the machine's load), named
    at most one a kill; a whole run then removes them all."""
    folder = run.folder("kills")
    files = _fill(folder, 2000)
    rng = random.Random(32)
    for named, kills, most in ((False, 50, 5), (True, 20, 20)):
        shim = ["env", "LD_PRELOAD=" + _shim(run), "NO_TMPFILE=1"] if named else []
        faults, seen = [], set()
        for kill in range(kills):
            delay = "%.3f" % rng.uniform(0.05, 0.6)
            run.at_terminal_command(["timeout", "-s", "KILL", delay] + shim +
                                    run.command, folder, "shift", ["y"])
            wrong, strays = _damage(folder, files)
            if len(set(strays) - seen) > 1 or wrong:
                faults.append((kill, delay, strays, wrong[:3]))
            seen.update(strays)
            for name in os.listdir(folder):
                if name.endswith(".md5.md5"):
                    os.remove(os.path.join(folder, name))
        boxes, _ = run.at_terminal_command(shim + run.command, folder, "shift",
                                           ["y"])
        wrong, strays = _damage(folder, files)
        stale = [n for n, d in files.items() if _read(folder, n + ".md5") != _record(n, d)]
        run.checks.check("%d random kills of creation over 2,000 files, %s "
                         "temporary files: every digest file old or new, %d "
                         "temporary files left; the next run removes them"
                         % (kills, "named" if named else "unnamed", len(seen)),
                         not faults and len(seen) <= most and not strays and
                         not stale and any(texts.DONE in b for b, _ in boxes),
                         (faults, strays, stale[:3]))
        for name, data in files.items():
            with open(os.path.join(folder, name + ".md5"), "wb") as f:
                f.write(OLD)


def few_descriptors(run):
    """EMFILE on one of creation's own opens (the old name's check, the
    temporary digest file) while workers or staged files hold descriptors:
    they let them go and the run completes; with none, the error shows."""
    # In memory: a folder on a disk that seeks is hashed without workers.
    folder = tempfile.mkdtemp(prefix="emfile-", dir="/dev/shm")
    files = _fill(folder, 300)
    shim = _shim(run)
    faults = []
    for cpus, path, nth in (([], "f00005.dat.md5", 1), ([], ".", 3),
                            (ONE_CPU, ".", 3), (ONE_CPU, ".", 1)):
        for name in files:
            with open(os.path.join(folder, name + ".md5"), "wb") as f:
                f.write(OLD)
        boxes, code = run.at_terminal_command(
            cpus + ["env", "LD_PRELOAD=" + shim, "INJECT_CALL=openat",
                    "INJECT_PATH=" + path, "INJECT_NTH=%d" % nth,
                    "INJECT_FAULT=emfile"] + run.command, folder, "shift",
            ["y"])
        new = [n for n, data in files.items()
               if _read(folder, n + ".md5") == _record(n, data)]
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
    files = _fill(folder, 2000)
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        for name, data in files.items():
            os.remove(os.path.join(folder, name + ".md5"))
            f.write(_record(name, data))
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
    record = _record("a.txt", b"abc")
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
                     _read(folder, user) == b"user data" and
                     _read(folder, user + ".md5") == _record(user, b"user data"),
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


def _read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


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
        lines += _record(name, name.encode())
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(lines)
    fifo = os.path.join(folder, "fifo")
    os.mkfifo(fifo)
    os.symlink("fifo", os.path.join(folder, "link"))
    writer = subprocess.Popen(["sh", "-c", "echo x > fifo"], cwd=folder)
    command = ONE_CPU + ["env", "LD_PRELOAD=" + _shim(run), "SWAP_NAME=b.txt",
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


CASES = [every_step, random_kills, few_descriptors, swapped_for_a_link, strays,
         descriptors_run_out]
