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
STEPS = ("newfstatat", "openat", "write", "close", "linkat", "dup", "rename",
         "syncfs")
# One CPU: no worker is started, so the pass's calls come in one order.
ONE_CPU = ["taskset", "-c", "0"]
# The libc calls behind those system calls, counted and failed on the pass's
# thread only (strace counts per thread, and cannot tell one thread from
# another): LD_PRELOAD of this, with STEPS_LOG to list them, or INJECT_CALL,
# INJECT_NTH and INJECT_FAULT (eio, emfile, kill) to fail one; with
# INJECT_PATH, the nth call on that path only.
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
  errno = strcmp(fault, "emfile") == 0 ? EMFILE : EIO;
  return 1;
}
#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))
int open(const char* p, int f, ...) {
  va_list a; va_start(a, f); mode_t m = va_arg(a, int); va_end(a);
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
int lstat(const char* p, struct stat* s) { return Step(0, "newfstatat", p) ? -1 : REAL(lstat)(p, s); }
ssize_t write(int fd, const void* b, size_t n) { return Step(2, "write", 0) ? -1 : REAL(write)(fd, b, n); }
int close(int fd) { return Step(3, "close", 0) ? -1 : REAL(close)(fd); }
int linkat(int a, const char* p, int b, const char* q, int f) {
  return Step(4, "linkat", q) ? -1 : REAL(linkat)(a, p, b, q, f);
}
int dup(int fd) { return Step(5, "dup", 0) ? -1 : REAL(dup)(fd); }
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


def _injected_runs(run, folder):
    """(call, occurrence) for each call of the writing of a.txt.md5, from
    its check to the flush, found by a run without faults."""
    log = os.path.join(run.root, "steps.txt")
    run.at_terminal_command(_with_shim(run, STEPS_LOG=log), folder, "shift",
                            ["y"])
    steps, state = [], "before"
    with open(log) as f:
        for line in f:
            call, nth, path = (line.rstrip("\n").split(" ", 2) + [""])[:3]
            if state == "before" and call == "newfstatat" and path == "a.txt.md5":
                state = "writing"
            if state != "before":
                steps.append((call, int(nth)))
            if state == "flushed":
                break
            if call == "syncfs":
                state = "flushed"  # and the close after it
    os.remove(log)
    return steps


def every_step(run):
    """A kill or an error at each call of the writing of a digest file
    leaves the old file or the new, and only a new one is called done."""
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

    reset()
    steps = _injected_runs(run, folder)
    run.checks.check("the shim sees the writing of the digest file",
                     any(call == "rename" for call, _ in steps), steps)
    faults = []
    for call, nth in steps:
        for fault in ("eio", "kill"):
            reset()
            boxes, _ = run.at_terminal_command(
                _with_shim(run, INJECT_CALL=call, INJECT_NTH=nth,
                           INJECT_FAULT=fault), folder, "shift", ["y"])
            wrong, strays = _damage(folder, {"a.txt": b"abc"})
            with open(os.path.join(folder, "a.txt.md5"), "rb") as f:
                held = f.read()
            done = any(texts.DONE in box for box, _ in boxes)
            # Only a whole new file may be called done; a temporary name is
            # left only by a kill at the rename that would have taken it.
            left = strays and (call, fault) != ("rename", "kill")
            if wrong or (done and held != new) or left:
                faults.append((call, nth, fault, wrong, strays, boxes[-1:]))
    run.checks.check("a kill or an error at each of %d steps: old or new, "
                     "never less" % len(steps), not faults and steps, faults)


def random_kills(run):
    """2,000 files whose digest files exist, creation killed at random
    moments: every digest file is old or new after each kill."""
    folder = run.folder("kills")
    files = _fill(folder, 2000)
    rng = random.Random(32)
    faults, strays_seen = [], 0
    for kill in range(20):
        delay = "%.3f" % rng.uniform(0.05, 0.6)
        run.at_terminal_command(["timeout", "-s", "KILL", delay] + run.command,
                                folder, "shift", ["y"])
        wrong, strays = _damage(folder, files)
        strays_seen += len(strays)
        for name in strays:
            os.remove(os.path.join(folder, name))
        for name in os.listdir(folder):
            if name.endswith(".md5.md5"):
                os.remove(os.path.join(folder, name))
        if wrong:
            faults.append((kill, delay, wrong[:3]))
    run.checks.check("20 random kills of creation over 2,000 files: every "
                     "digest file old or new (%d temporary files left)"
                     % strays_seen, not faults and strays_seen <= 20, faults)


def few_descriptors(run):
    """No descriptor free for one of the pass's own opens in creation (the
    old name's check, the temporary digest file) while the workers hold
    theirs: they let them go and the run completes as one pass would. On
    one CPU, with no worker to give any back, the error is shown."""
    # In memory: a folder on a disk that seeks is hashed without workers.
    folder = tempfile.mkdtemp(prefix="emfile-", dir="/dev/shm")
    files = _fill(folder, 300)
    shim = _shim(run)
    faults = []
    for cpus, path, nth in (([], "f00005.dat.md5", 1), ([], ".", 3),
                            (ONE_CPU, ".", 3)):
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
        if cpus:
            ok = not done and "Too many open files" in boxes[-1][0]
        else:
            ok = done and len(new) == len(files) and code == 0
        if not ok:
            faults.append((cpus, path, len(new), boxes[-1:], code))
    shutil.rmtree(folder)
    run.checks.check("EMFILE on the pass's own opens: the workers let theirs "
                     "go and the run completes; alone, the error", not faults,
                     faults)


def _read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


CASES = [every_step, random_kills, few_descriptors]
