"""Creation ended at every step of writing a digest file, by a kill or a
failing system call (an interposed libc injects both), and at random
moments: every digest file is the old one byte for byte or the new one,
never empty."""

import hashlib
import os
import random
import re

from tests import texts
from tests.e2e import fault_shim

OLD = b"0123456789abcdef0123456789abcdef *an older record\n"
TEMPORARY = re.compile(r"^\.~digestbox-\d+-\d+\.tmp$")
# The calls of one digest file's writing, by their system calls' names.
STEPS = ("newfstatat", "openat", "write", "close", "linkat", "fsync", "rename",
         "syncfs")


def record_of(name, data):
    return hashlib.md5(data).hexdigest().encode() + b" *" + name.encode() + b"\n"


def fill(folder, count, size=64):
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


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def _damage(folder, files):
    """Digest files that are neither the old one nor the new one, and the
    temporary files left."""
    wrong = []
    for name, data in files.items():
        with open(os.path.join(folder, name + ".md5"), "rb") as f:
            held = f.read()
        if held not in (OLD, record_of(name, data)):
            wrong.append((name, held))
    strays = [n for n in os.listdir(folder) if TEMPORARY.match(n)]
    return wrong, strays


def _injected_runs(run, folder, **settings):
    """(call, occurrence) for each call of the pass from the check of
    a.txt.md5 to the final flush, found by a run without faults."""
    log = os.path.join(run.root, "steps.txt")
    run.at_terminal_command(fault_shim.with_shim(run, STEPS_LOG=log, **settings), folder,
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
    new = record_of("a.txt", b"abc")

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
                    fault_shim.with_shim(run, INJECT_CALL=call, INJECT_NTH=nth,
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
                    fault_shim.with_shim(run, **mode), folder, "shift", ["y"])
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
    files = fill(folder, 2000)
    rng = random.Random(32)
    for named, kills, most in ((False, 50, 5), (True, 20, 20)):
        shim = ["env", "LD_PRELOAD=" + fault_shim.library(run), "NO_TMPFILE=1"] if named else []
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
        stale = [n for n, d in files.items() if read(folder, n + ".md5") != record_of(n, d)]
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


CASES = [every_step, random_kills]
