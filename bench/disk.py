"""The cases where the disk counts: creation over existing lists on tmpfs
and ext4 (with the flush), the peak memory verifying a file on disk, and
reading cold from the disk. Used by bench/run."""

import hashlib
import os
import shutil
import statistics
import subprocess
import tempfile
import time

import timing
from timing import (CORES, ROOT, created, in_turns, list_each, remove_matching,
                    repeat,
                    timed_alone, timed_digestbox, timed_peer, verified)


def ext4_image(base):
    """A mounted ext4 loop image of 2 GiB on the disk (as root), or None."""
    if os.geteuid() != 0:
        print("creation on ext4: skipped, mounting a loop image needs root")
        return None
    image = os.path.join(ROOT, "build", "bench-ext4.img")
    with open(image, "wb") as f:
        f.truncate(2 << 30)
    subprocess.run(["mkfs.ext4", "-q", "-F", image], check=True)
    mounted = os.path.join(base, "ext4")
    os.mkdir(mounted)
    subprocess.run(["mount", "-o", "loop", image, mounted], check=True)
    return image, mounted


def creation_over_lists(table, base, display, runs, count, in_place):
    """`count` files of 1 KiB over their digest files, replaced whole and
    flushed, beside a build that writes them in place; on tmpfs and on
    ext4, where the flush is also timed with 200 MB of other data waiting."""
    mounted = ext4_image(base)
    try:
        for where, parent in (("tmpfs", base), ("ext4", mounted and mounted[1])):
            if parent is None:
                continue
            folder = os.path.join(parent, "create")
            os.mkdir(folder)
            for i in range(count):
                with open(os.path.join(folder, "c%05d.dat" % i), "wb") as f:
                    f.write(os.urandom(1024))
                with open(os.path.join(folder, "c%05d.dat.md5" % i), "wb") as f:
                    f.write(b"0" * 32 + b" *old\n")
            subprocess.run(["sync"])
            case = "%d files of 1 KiB over lists, %s" % (count, where)

            def create(program):
                return lambda: timed_digestbox(folder, display, "shift", ["y"],
                                               created, program)
            contenders = [("digestbox create MD5", create(timing.PROGRAM))]
            if in_place:
                contenders.append(("in place: " + in_place, create(in_place)))
            samples = in_turns(runs, contenders, lambda: (
                remove_matching(folder, ".md5.md5"), subprocess.run(["sync"])))
            mine = table.add(case, contenders[0][0], samples[0], count * 1024)
            if in_place:
                other = table.add(case, contenders[1][0], samples[1],
                                  count * 1024, mine)
                table.targets.append((case + " / in place", mine / other, 1.15))
            if where == "ext4":
                dirty = os.path.join(parent, "dirty.bin")
                loaded = []
                for _ in range(runs):
                    remove_matching(folder, ".md5.md5")
                    subprocess.run(["sync"])
                    with open(dirty, "wb") as f:
                        for _ in range(200):
                            f.write(os.urandom(1 << 20))
                    loaded.append(create(timing.PROGRAM)())
                    os.remove(dirty)
                with_dirty = table.add(case, "digestbox, 200 MB dirty elsewhere",
                                       loaded, count * 1024)
                flushes = []
                for megabytes in (0, 200):
                    def flush():
                        with open(dirty, "wb") as f:
                            for _ in range(megabytes):
                                f.write(os.urandom(1 << 20))
                        start = time.perf_counter()
                        subprocess.run(["sync", "-f", folder], check=True)
                        return time.perf_counter() - start
                    flushes.append(statistics.median(repeat(runs, flush)))
                    os.remove(dirty)
                print("%s: 200 MB of other dirty data: the run %+.3f s; one "
                      "syncfs %.3f s, %.3f s with none dirty (medians)" % (
                          case, with_dirty - mine, flushes[1], flushes[0]))
            shutil.rmtree(folder)
    finally:
        if mounted:
            subprocess.run(["umount", mounted[1]])
            os.remove(mounted[0])


def memory_on_disk(table, runs, size):
    """Peak memory verifying a file on disk, read cold where the caches can
    be dropped (as root), then warm."""
    folder = tempfile.mkdtemp(prefix="digestbox-bench-disk-", dir=os.path.join(ROOT, "build"))
    try:
        block, digest = os.urandom(1 << 20), hashlib.md5()
        with open(os.path.join(folder, "big.bin"), "wb") as f:
            for _ in range(size >> 20):
                f.write(block)
                digest.update(block)
        with open(os.path.join(folder, "big.bin.md5"), "w") as f:
            f.write(digest.hexdigest() + " *big.bin\n")
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        peaks = []
        for run in range(runs):
            if run == 0:
                subprocess.run(["sync"])
                subprocess.run(["sh", "-c", "echo 3 > /proc/sys/vm/drop_caches"],
                               stderr=subprocess.DEVNULL)
            out = subprocess.run(["setsid", "-w", "/usr/bin/time", "-f", "%e %M", timing.PROGRAM],
                                 cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True).stderr.split()
            peaks.append((float(out[-2]), int(out[-1])))
        case = "one %d MiB file on disk" % (size >> 20)
        table.add(case, "digestbox verify (cold, then warm)", peaks, size)
        table.targets.append((case + ": peak MiB / 8 MiB", max(p[1] for p in peaks)
                              / 1024.0 / 8, 1.0))
    finally:
        shutil.rmtree(folder)


def drop_caches():
    subprocess.run(["sync"])
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def cold_on_disk(table, runs, count, size):
    """Read cold from the disk under the repository (the caches dropped
    before every run, so root only): `count` files of 1 MiB, a list each,
    against hashdeep with a job per core, and one file of `size`. On a
    hypervisor's disk digestbox reads more files at once than it has CPUs."""
    if os.geteuid() != 0:
        print("cold reading from disk: skipped, dropping the caches needs root")
        return
    folder = tempfile.mkdtemp(prefix="digestbox-bench-cold-", dir=os.path.join(ROOT, "build"))
    try:
        source = subprocess.run(["findmnt", "-n", "-o", "SOURCE", "--target", folder],
                                capture_output=True, text=True).stdout.strip()
        print("cold reading from %s, load %.2f" % (source or "?", os.getloadavg()[0]))
        many = os.path.join(folder, "many")
        os.mkdir(many)
        known = os.path.join(folder, "known.txt")
        names = list_each(many, count, known)
        case = "%d files of 1 MiB, cold" % count
        contenders = [
            ("digestbox verify", lambda: timed_alone(many, verified(count))),
            ("hashdeep -c md5 -j%d audit" % CORES, lambda: timed_peer(
                ["hashdeep", "-c", "md5", "-j%d" % CORES, "-a", "-k", known, "-l"]
                + names, many)),
            ("hashdeep -c md5 -j1 audit", lambda: timed_peer(
                ["hashdeep", "-c", "md5", "-j1", "-a", "-k", known, "-l"]
                + names, many)),
            ("md5sum -c *.md5", lambda: timed_peer(
                ["md5sum", "-c", "--quiet"] + [n + ".md5" for n in names], many))]
        samples = in_turns(runs, contenders, drop_caches)
        mine = table.add(case, contenders[0][0], samples[0], count << 20)
        peers = [table.add(case, name, taken, count << 20, mine)
                 for (name, _), taken in zip(contenders[1:], samples[1:])]
        table.targets.append((case + " / hashdeep -j%d" % CORES, mine / peers[0], 1.0))
        shutil.rmtree(many)

        big = os.path.join(folder, "big")
        os.mkdir(big)
        digest = hashlib.md5()
        with open(os.path.join(big, "big.bin"), "wb") as f:
            for _ in range(size >> 20):
                block = os.urandom(1 << 20)
                f.write(block)
                digest.update(block)
        with open(os.path.join(big, "big.bin.md5"), "w") as f:
            f.write(digest.hexdigest() + " *big.bin\n")
        case = "one %d MiB file, cold" % (size >> 20)
        contenders = [
            ("digestbox verify", lambda: timed_alone(big, verified(1))),
            ("hashdeep -c md5 -j1", lambda: timed_peer(
                ["hashdeep", "-c", "md5", "-j1", "big.bin"], big)),
            ("md5sum -c", lambda: timed_peer(["md5sum", "-c", "big.bin.md5"], big))]
        samples = in_turns(runs, contenders, drop_caches)
        mine = table.add(case, contenders[0][0], samples[0], size)
        for (name, _), taken in zip(contenders[1:], samples[1:]):
            table.add(case, name, taken, size, mine)
        print("cold reading done, load %.2f" % os.getloadavg()[0])
    finally:
        shutil.rmtree(folder)
