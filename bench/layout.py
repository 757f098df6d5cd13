"""The layout digestbox writes, a digest file beside every file: verifying
it against md5sum and hashdeep, and creating it against writing the same
files in place and against the floor of the write sequence. Used by
bench/run, which hands in bench/timing.py's helpers as `b`."""

import hashlib
import os
import random
import shutil
import statistics
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def files_with_lists(folder, sizes, seed):
    """A file of each size, each with its own .md5 as digestbox writes it;
    returns their names."""
    os.mkdir(folder)
    rng = random.Random(seed)
    names = []
    for i, size in enumerate(sizes):
        name = "f%05d.dat" % i
        data = rng.randbytes(size)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, name + ".md5"), "w") as f:
            f.write("%s *%s\n" % (hashlib.md5(data).hexdigest(), name))
        names.append(name)
    return names


def small_files(b, table, base, runs, count):
    """`count` files of 1-2 KiB, a list each, against md5sum over the same
    lists in one process and over the records joined into one list."""
    folder = os.path.join(base, "layout-small")
    rng = random.Random(59)
    names = files_with_lists(folder, [rng.randint(1024, 2048)
                                      for _ in range(count)], 59)
    joined = os.path.join(base, "joined.md5")  # outside the folder
    with open(joined, "wb") as out:
        for name in names:
            with open(os.path.join(folder, name + ".md5"), "rb") as f:
                out.write(f.read())
    size = sum(os.path.getsize(os.path.join(folder, n)) for n in names)
    case = "%d files of 1-2 KiB, a list each" % count
    contenders = [
        ("digestbox verify", lambda: b.timed_alone(folder, b.verified(count))),
        ("md5sum -c *.md5", lambda: b.timed_peer(
            ["md5sum", "-c", "--quiet"] + [n + ".md5" for n in names], folder)),
        ("md5sum -c one list", lambda: b.timed_peer(
            ["md5sum", "-c", "--quiet", joined], folder))]
    samples = b.in_turns(runs, contenders)
    mine = table.add(case, contenders[0][0], samples[0], size)
    lists = table.add(case, contenders[1][0], samples[1], size, mine)
    one = table.add(case, contenders[2][0], samples[2], size, mine)
    table.targets.append((case + " / md5sum *.md5", mine / lists, 0.6))
    table.targets.append((case + " / md5sum one list", mine / one, 1.2))
    os.remove(joined)
    return folder, names


def mixed_sizes(count, total, seed):
    """`count` sizes from 1 KiB to 20 MiB, even on a log scale, scaled to
    add up to `total`."""
    rng = random.Random(seed)
    raw = [2 ** rng.uniform(10, 24.3) for _ in range(count)]
    scale = total / sum(raw)
    return [max(1024, min(20 << 20, int(r * scale))) for r in raw]


def mixed_files(b, table, base, runs, count, total):
    """`count` files of mixed sizes, a list each, against hashdeep's audit
    over one list with a job per core."""
    folder = os.path.join(base, "layout-mixed")
    names = files_with_lists(folder, mixed_sizes(count, total, 60), 60)
    known = os.path.join(base, "known-mixed.txt")
    with open(known, "wb") as f:
        subprocess.run(["hashdeep", "-c", "md5", "-l"] + names, cwd=folder,
                       stdout=f, check=True)
    size = sum(os.path.getsize(os.path.join(folder, n)) for n in names)
    case = "%d files, 1 KiB-20 MiB, %d MiB, a list each" % (count, size >> 20)
    contenders = [
        ("digestbox verify", lambda: b.timed_alone(folder, b.verified(count))),
        ("hashdeep -c md5 -j2 audit", lambda: b.timed_peer(
            ["hashdeep", "-c", "md5", "-j2", "-a", "-k", known, "-l"] + names,
            folder))]
    samples = b.in_turns(runs, contenders)
    mine = table.add(case, contenders[0][0], samples[0], size)
    peer = table.add(case, contenders[1][0], samples[1], size, mine)
    table.targets.append((case + " / hashdeep -j2", mine / peer, 0.8))
    shutil.rmtree(folder)
    os.remove(known)


def floor_program(base):
    """bench/write_floor.cpp built into `base`."""
    program = os.path.join(base, "write_floor")
    subprocess.run(["c++", "-O2", "-std=c++17", "-o", program,
                    os.path.join(HERE, "write_floor.cpp"), "-lcrypto"],
                   check=True)
    return program


def creation(b, table, base, display, runs, folder, names, in_place):
    """Creating the lists of the small files' folder (their .md5 removed
    first), against a build writing them in place where one is given, and
    against the floors: only the system calls the crash-safe sequence
    makes, and only those of writing each list in place."""
    floor = floor_program(base)
    size = sum(os.path.getsize(os.path.join(folder, n)) for n in names)
    case = "create %d lists of 1-2 KiB files" % len(names)

    def create(program):
        return lambda: b.timed_digestbox(folder, display, "shift", ["y"],
                                         b.created, program)

    contenders = [("digestbox create MD5", create(b.PROGRAM))]
    if in_place:
        contenders.append(("in place: " + in_place, create(in_place)))
    contenders += [
        ("floor: write_floor (crash-safe)",
         lambda: b.timed_peer([floor] + names, folder)),
        ("floor: write_floor --in-place",
         lambda: b.timed_peer([floor, "--in-place"] + names, folder))]
    samples = b.in_turns(runs, contenders,
                         lambda: b.remove_matching(folder, ".md5"))
    mine = table.add(case, contenders[0][0], samples[0], size)
    for (name, _), taken in zip(contenders[1:], samples[1:]):
        table.add(case, name, taken, size, mine)
    print("%s: digestbox %.3f s, the crash-safe floor %.3f s, in place "
          "%.3f s (medians)" % (case, mine,
                                statistics.median(s[0] for s in samples[-2]),
                                statistics.median(s[0] for s in samples[-1])))
    shutil.rmtree(folder)
