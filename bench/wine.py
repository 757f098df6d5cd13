"""The Windows program under Wine, for the record: one big file, many
records, and creation over existing lists. Used by bench/run --wine."""

import hashlib
import os
import shutil
import statistics
import subprocess
import tempfile
import time

from tests import texts
from timing import ROOT, remove_matching


def wine_big_file(base, build_folder, size):
    """The Windows program under Wine, for the record: one verification."""
    from tests.e2e import run_wine
    folder = os.path.join(base, "winebig")
    os.mkdir(folder)
    block = os.urandom(1 << 20)
    digest = hashlib.md5()
    with open(os.path.join(folder, "big.bin"), "wb") as f:
        for _ in range(size >> 20):
            f.write(block)
            digest.update(block)
    with open(os.path.join(folder, "big.bin.md5"), "wb") as f:
        f.write(digest.hexdigest().encode() + b" *big.bin\n")
    build = run_wine.Build(build_folder)
    wine = run_wine.Wine(run_wine.bits_of(build.program))
    try:
        runner = run_wine.Runner(wine, build.driver, build.program)
        times = []
        for _ in range(3):
            start = time.perf_counter()
            lines = runner.drive(folder, "none")
            times.append(time.perf_counter() - start)
            if not any(" - OK" in line for line in lines):
                raise RuntimeError("wine run went wrong: %r" % lines)
        median = statistics.median(times)
        print("Wine, digestbox.exe verify MD5 of %d MiB (with Wine's start-up):"
              " %.2f s, %.1f MB/s" % (size >> 20, median, size / median / 1e6))
    finally:
        wine.close()
        shutil.rmtree(folder)


def wine_many_records(base, build_folder, before=None):
    """The Windows program under Wine, for the record: 20,000 files of 100
    bytes in one list (each record's own cost), and 100,000 records of
    missing files (how soon the report box shows after the last check).
    `before` is another build's program, run in turns with this one on the
    20,000 files: the ratio of their medians is what a change cost."""
    from tests.e2e import run_wine
    small = os.path.join(base, "winesmall")
    os.mkdir(small)
    with open(os.path.join(small, "all.md5"), "w") as listing:
        for i in range(20000):
            data = os.urandom(100)
            with open(os.path.join(small, "s%05d.dat" % i), "wb") as f:
                f.write(data)
            listing.write("%s *s%05d.dat\n" % (hashlib.md5(data).hexdigest(), i))
    missing = os.path.join(base, "winemissing")
    os.mkdir(missing)
    with open(os.path.join(missing, "all.md5"), "w") as listing:
        for i in range(100000):
            listing.write("d41d8cd98f00b204e9800998ecf8427e *m%07d.dat\n" % i)
    build = run_wine.Build(build_folder)
    wine = run_wine.Wine(run_wine.bits_of(build.program))
    try:
        runners = [("digestbox.exe", run_wine.Runner(wine, build.driver,
                                                     build.program))]
        if before:
            runners.append(("the build before", run_wine.Runner(
                wine, build.driver, os.path.abspath(before))))
        for what, folder, count in (("20,000 files of 100 bytes", small, 20000),
                                    ("100,000 missing files", missing, 100000)):
            taking = runners if count == 20000 else runners[:1]
            times = [[] for _ in taking]
            shown = [[] for _ in taking]
            for _ in range(3):
                # In turns: a machine that slows down treats both alike.
                for k, (_, runner) in enumerate(taking):
                    start = time.perf_counter()
                    lines = runner.drive(folder, "none")
                    times[k].append(time.perf_counter() - start)
                    shown[k].append(runner.shown_ms or 0)
                    if not any(texts.FAILED_CAPTION in line or
                               texts.OK_CAPTION in line for line in lines):
                        raise RuntimeError("wine run went wrong: %r" % lines[:5])
            for k, (name, _) in enumerate(taking):
                print("Wine, %s verify %s in one list: %.2f s, the report"
                      " box %.2f s after the start (medians of 3)" % (
                          name, what, statistics.median(times[k]),
                          statistics.median(shown[k]) / 1000.0))
            if len(taking) == 2:
                print("Wine, %s: %.2f x the build before (target: at most 1.1)"
                      % (what, statistics.median(times[0]) /
                         statistics.median(times[1])))
    finally:
        wine.close()
        shutil.rmtree(small)
        shutil.rmtree(missing)


def wine_creation_over_lists(base, build_folder, in_place, runs):
    """The Windows program under Wine creating 1,500 digest files over
    existing ones, in turns with `in_place` (a program that writes them in
    place), in memory and on the disk: the medians and their ratio."""
    from tests.e2e import run_wine
    build = run_wine.Build(build_folder)
    wine = run_wine.Wine(run_wine.bits_of(build.program))
    disk = tempfile.mkdtemp(prefix="digestbox-bench-", dir=os.path.join(ROOT, "build"))
    try:
        runner = run_wine.Runner(wine, build.driver, build.program)
        for where, parent in (("tmpfs", base), ("ext4", disk)):
            folder = os.path.join(parent, "winecreate")
            os.mkdir(folder)
            for i in range(1500):
                with open(os.path.join(folder, "c%04d.dat" % i), "wb") as f:
                    f.write(os.urandom(1024))
                with open(os.path.join(folder, "c%04d.dat.md5" % i), "wb") as f:
                    f.write(b"0" * 32 + b" *old\n")
            programs = [build.program] + ([in_place] if in_place else [])
            labels = ["digestbox.exe", "in place"]
            times = [[] for _ in programs]
            for _ in range(runs):
                for program, label, taken in zip(programs, labels, times):
                    runner.program = program
                    remove_matching(folder, ".md5.md5")
                    subprocess.run(["sync"])
                    start = time.perf_counter()
                    lines = runner.drive(folder, "shift", "yes")
                    taken.append(time.perf_counter() - start)
                    print("  %s %s: %.2f s" % (where, label, taken[-1]),
                          flush=True)
                    if not any(texts.DONE in line for line in lines):
                        raise RuntimeError("wine run went wrong: %r" % lines[:8])
            medians = [statistics.median(t) for t in times]
            print("Wine, digestbox.exe creating 1,500 digest files over existing"
                  " ones, %s: %.2f s%s (medians of %d, load %.1f)" % (
                      where, medians[0], "" if not in_place else
                      "; in place %.2f s; %.2f x (target <= 1.20)" % (
                          medians[1], medians[0] / medians[1]), runs,
                      os.getloadavg()[0]))
            shutil.rmtree(folder)
    finally:
        wine.close()
        shutil.rmtree(disk)
