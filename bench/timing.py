"""The benchmark's machinery: a contender timed as a whole process with its
peak memory, the hashing limit, samples taken in turns, the checks of what
digestbox reported, and the table the figures are printed in. Used by
bench/run (which puts the repository on the path and sets PROGRAM) and the
modules of its cases."""

import hashlib
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from tests import texts
from tests.e2e.linux_session import peak_of_running, run_at_terminal

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "linux", "digestbox")
# The CPUs this process may use, as digestbox counts them (capped at 8).
CORES = min(8, len(os.sched_getaffinity(0)))


def timed_peer(argv, folder, output=None):
    """(seconds, peak RSS in KiB) of one peer command."""
    out = open(output, "wb") if output else subprocess.DEVNULL
    start = time.perf_counter()
    process = subprocess.Popen(argv, cwd=folder, stdout=out)
    peak = peak_of_running(process, os.path.basename(shutil.which(argv[0])))
    elapsed = time.perf_counter() - start
    if output:
        out.close()
    if process.returncode != 0:
        raise RuntimeError("failed: %r" % argv)
    return elapsed, peak


def timed_peer_failing(argv, folder):
    """(seconds, peak RSS in KiB) of a peer that reports failures, as
    `md5sum -c` does for missing files (exit status 1)."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = peak_of_running(process, os.path.basename(shutil.which(argv[0])))
    elapsed = time.perf_counter() - start
    if process.returncode not in (0, 1):
        raise RuntimeError("failed: %r" % argv)
    return elapsed, peak


def timed_alone(folder, check):
    """(seconds, peak RSS in KiB) of a verification with no terminal and no
    display, its boxes on standard error: what the peers get, whose output
    goes nowhere too, without the cost of a terminal drawing the report."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    with tempfile.TemporaryFile() as boxes:
        start = time.perf_counter()
        process = subprocess.Popen(["setsid", "-w", PROGRAM], cwd=folder, env=env,
                                   stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=boxes)
        peak = peak_of_running(process, "digestbox")
        elapsed = time.perf_counter() - start
        boxes.seek(0)
        report = boxes.read().decode("utf-8", "replace")
    if process.returncode != 0 or not check([(report, "")]):
        raise RuntimeError("digestbox run went wrong: %r" % report[:200])
    return elapsed, peak


def timed_digestbox(folder, display, keys, answers, check, program=None):
    """(seconds of work, peak RSS in KiB): the time spent waiting at the
    question and at the last box is not counted."""
    program = program or PROGRAM
    usage = []
    boxes, code = run_at_terminal([program], folder, display, keys, answers,
                                  timeout=3600, usage=usage)
    if code != 0 or not check(boxes):
        raise RuntimeError("digestbox run went wrong: %r" % (boxes[:2],))
    return usage[0]["work"], usage[0]["peak_kib"]


LIMITS = {}


def hashing_speed(algorithm):
    """What one core hashes per second now, in MB/s (openssl speed on 256 KiB
    blocks, the size digestbox hashes at once), over the wall-clock second,
    as the contenders are timed, not over the CPU time it was given."""
    out = subprocess.run(["openssl", "speed", "-elapsed", "-evp", algorithm,
                          "-bytes", "262144", "-seconds", "1"],
                         capture_output=True,
                         text=True).stdout.splitlines()
    return float(out[-1].split()[-1].rstrip("k")) * 1000 / 1e6


def hashing_limit(algorithm):
    """hashing_speed, asked once per algorithm unless a case measured it in
    turns with its contenders."""
    if algorithm not in LIMITS:
        LIMITS[algorithm] = hashing_speed(algorithm)
    return LIMITS[algorithm]


class Table:
    def __init__(self):
        self.rows = []
        self.targets = []  # (what, digestbox's time / the peer's, most allowed)
        self.limits = []  # (what, digestbox's MB/s, the hashing limit's)

    def limit(self, what, algorithm, workers, median, size):
        """digestbox's throughput against the hashing limit on `workers`."""
        self.limits.append((what, size / median / 1e6,
                            hashing_limit(algorithm) * workers))

    def add(self, case, contender, samples, size_bytes, baseline=None):
        times = [s[0] for s in samples]
        median = statistics.median(times)
        peak = max(s[1] for s in samples)
        self.rows.append((case, contender, median, size_bytes, peak, baseline))
        return median

    def show(self):
        print()
        print("%-34s %-34s %9s %10s %9s %8s" % (
            "case", "contender", "median s", "MB/s", "peak MiB", "ratio"))
        print("-" * 110)
        for case, contender, median, size, peak, baseline in self.rows:
            rate = "%10.1f" % (size / median / 1e6) if size else "%10s" % "-"
            ratio = "%8.2f" % (median / baseline) if baseline else "%8s" % "-"
            # peer time / digestbox time
            print("%-34s %-34s %9.3f %s %9.1f %s" % (
                case, contender, median, rate, peak / 1024.0, ratio))
        print()
        print("ratio: the peer's median time / digestbox's median time in the "
              "same case (above 1: digestbox is faster).")
        for what, ratio, most in self.targets:
            print("%-52s %5.3f x  (target <= %.2f: %s)" % (
                what, ratio, most, "met" if ratio <= most else "NOT met"))
        print()
        print("the hashing limit: openssl speed per core x the cores used")
        for what, rate, limit in self.limits:
            print("%-52s %8.1f MB/s of %8.1f MB/s (%3.0f%%)" % (
                what, rate, limit, 100 * rate / limit))


def repeat(runs, action, before=None):
    samples = []
    for _ in range(runs):
        if before:
            before()
        samples.append(action())
    return samples


def in_turns(runs, contenders, before=None):
    """Each contender's samples (contenders are (name, action) pairs), taken
    in turns `runs` times, `before` called ahead of each, so that a load
    that comes and goes falls on all of them alike."""
    samples = [[] for _ in contenders]
    for _ in range(runs):
        for taken, (_, action) in zip(samples, contenders):
            if before:
                before()
            taken.append(action())
    return samples


def created(boxes):
    """The question, then the completion box."""
    return len(boxes) == 2 and texts.DONE in boxes[1][0]


def verified(count):
    """A check that the report lists `count` records, all OK."""
    return lambda boxes: (len(boxes) == 1 and
                          boxes[0][0].count(" - OK\n") == count)


def remove_matching(folder, suffix):
    for name in os.listdir(folder):
        if name.endswith(suffix):
            os.remove(os.path.join(folder, name))


def list_each(folder, count, known):
    """`count` files of 1 MiB of random bytes in `folder`, each with a
    digest file of its own, and hashdeep's list of them in `known`, for its
    audit; returns the files' names."""
    names = []
    for i in range(count):
        name = "m%05d.bin" % i
        data = os.urandom(1 << 20)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, name + ".md5"), "w") as f:
            f.write("%s *%s\n" % (hashlib.md5(data).hexdigest(), name))
        names.append(name)
    with open(known, "wb") as f:
        subprocess.run(["hashdeep", "-c", "md5", "-l"] + names, cwd=folder,
                       stdout=f, check=True)
    return names
