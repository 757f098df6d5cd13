"""Creation ended at every step of writing a digest file, by a kill or a
failing system call (strace injects both), and at random moments: every
digest file is the old one byte for byte or the new one, never empty."""

import hashlib
import os
import random
import re

from tests import texts

OLD = b"0123456789abcdef0123456789abcdef *an older record\n"
TEMPORARY = re.compile(r"^\.~digestbox-\d+-\d+\.tmp$")
# The calls of one digest file's writing, as strace names them.
STEPS = ("newfstatat", "openat", "write", "close", "linkat", "dup", "rename",
         "syncfs")
# One CPU: no thread is started, so the calls come in one order.
ONE_CPU = ["taskset", "-c", "0"]


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
    its check to the flush, found by a run traced without faults."""
    log = os.path.join(run.root, "steps.txt")
    run.at_terminal_command(
        ONE_CPU + ["strace", "-qq", "-o", log, "-e", "trace=" + ",".join(STEPS)]
        + run.command, folder, "shift", ["y"])
    seen, steps, state = {}, [], "before"
    with open(log) as f:
        for line in f:
            call = line.split("(", 1)[0]
            if call not in STEPS:
                continue
            seen[call] = seen.get(call, 0) + 1
            if state == "before" and line.startswith(
                    'newfstatat(AT_FDCWD, "a.txt.md5",'):
                state = "writing"
            if state != "before":
                steps.append((call, seen[call]))
            if state == "flushed":
                break
            if call == "syncfs":
                state = "flushed"  # and the close after it
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
    run.checks.check("strace sees the writing of the digest file",
                     any(call == "rename" for call, _ in steps), steps)
    faults = []
    for call, nth in steps:
        for fault in ("error=EIO", "signal=KILL"):
            reset()
            boxes, _ = run.at_terminal_command(
                ONE_CPU + ["strace", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                 "-e", "inject=%s:%s:when=%d" % (call, fault, nth)]
                + run.command, folder, "shift", ["y"])
            wrong, strays = _damage(folder, {"a.txt": b"abc"})
            with open(os.path.join(folder, "a.txt.md5"), "rb") as f:
                held = f.read()
            done = any(texts.DONE in box for box, _ in boxes)
            # Only a whole new file may be called done; a temporary name is
            # left only by a kill at the rename that would have taken it.
            left = strays and (call, fault) != ("rename", "signal=KILL")
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


CASES = [every_step, random_kills]
