"""The cases read from the page cache: one big file, many small ones, one-byte
files in one list, and a folder of files with a list each. Used by
bench/run."""

import hashlib
import os
import shutil
import statistics

from timing import (CORES, LIMITS, created, hashing_limit, hashing_speed,
                    list_each,
                    in_turns, remove_matching, repeat, timed_alone,
                    timed_digestbox, timed_peer, verified)


def one_big_file(table, base, display, runs, size):
    folder = os.path.join(base, "big")
    os.mkdir(folder)
    path = os.path.join(folder, "big.bin")
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        for _ in range(size >> 20):
            f.write(block)
    case = "one %d MiB file" % (size >> 20)

    for algorithm, keys, ext, peer, ossl in (
            ("MD5", "shift", ".md5", "md5sum", "md5"),
            ("SHA-1", "shift+ctrl", ".sha1", "sha1sum", "sha1")):
        remove_matching(folder, ".md5")
        remove_matching(folder, ".sha1")

        def create():
            remove_matching(folder, ext)
            return timed_digestbox(folder, display, keys, ["y"], created)

        # Taken in turns, so that a machine that speeds up or slows down
        # during the run treats every contender alike.
        contenders = [
            ("digestbox create %s" % algorithm, create),
            # Without a display, as the peers run: reading the keys at
            # start-up would count against digestbox alone.
            ("digestbox verify %s" % algorithm,
             lambda: timed_alone(folder, verified(1))),
            (peer + " --binary",
             lambda: timed_peer([peer, "--binary", "big.bin"], folder)),
            ("openssl dgst -" + ossl,
             lambda: timed_peer(["openssl", "dgst", "-" + ossl, "big.bin"], folder))]
        # The limit in turns too: on a shared machine a core's speed is
        # what the other processes leave of it.
        samples = in_turns(runs, contenders + [
            ("the hashing limit", lambda: hashing_speed(ossl))])
        LIMITS[ossl] = statistics.median(samples.pop())
        mine = table.add(case, contenders[0][0], samples[0], size)
        verify = table.add(case, contenders[1][0], samples[1], size)
        table.add(case, contenders[2][0], samples[2], size, mine)
        table.add(case, contenders[3][0], samples[3], size, mine)
        # One file is hashed on one core: the most it can go is that core's
        # hashing speed.
        fastest = size / (hashing_limit(ossl) * 1e6)
        table.targets.append(("%s verify %s / the hashing limit" % (
            case, algorithm), verify / fastest, 1.05))
        # Creation needs the keys, so a display: its time includes reading
        # them, and it is shown beside the limit with no target.
        for run, median in (("create", mine), ("verify", verify)):
            table.limit("%s %s %s" % (case, run, algorithm), ossl, 1, median,
                        size)
        remove_matching(folder, ext)
    shutil.rmtree(folder)


def many_small_files(table, base, display, runs, count):
    folder = os.path.join(base, "small")
    os.mkdir(folder)
    for i in range(count):
        with open(os.path.join(folder, "f%06d.dat" % i), "wb") as f:
            f.write(os.urandom(1024))
    case = "%d files of 1 KiB" % count
    lists = os.path.join(base, "lists")
    os.mkdir(lists)
    for algorithm, keys, ext, peer in (("MD5", "shift", ".md5", "md5sum"),
                                       ("SHA-1", "shift+ctrl", ".sha1", "sha1sum")):
        listing = os.path.join(lists, "all" + ext)
        create = table.add(case, "digestbox create %s" % algorithm, repeat(
            runs, lambda: timed_digestbox(folder, display, keys, ["y"], created),
            lambda: remove_matching(folder, ext)), count * 1024)
        names = sorted(n for n in os.listdir(folder) if n.endswith(".dat"))
        table.add(case, "%s --binary * > list" % peer, repeat(
            runs, lambda: timed_peer([peer, "--binary"] + names, folder,
                                     listing)), count * 1024, create)
        # Verification reads one list, as the peer does: the peer's own.
        remove_matching(folder, ext)
        shutil.copy(listing, os.path.join(folder, "all" + ext))
        # Verification and the peer in turns, as in the other cases.
        samples = in_turns(runs, [
            ("digestbox", lambda: timed_alone(folder, verified(count))),
            (peer, lambda: timed_peer([peer, "-c", "--quiet", listing], folder))])
        verify = table.add(case, "digestbox verify %s (one list)" % algorithm,
                           samples[0], count * 1024)
        checked = table.add(case, "%s -c list" % peer, samples[1],
                            count * 1024, verify)
        table.targets.append(("%s verify %s / %s -c" % (case, algorithm, peer),
                              verify / checked, 0.8))
        table.limit("%s verify %s" % (case, algorithm),
                    "md5" if algorithm == "MD5" else "sha1", CORES, verify,
                    count * 1024)
        remove_matching(folder, ext)
    shutil.rmtree(folder)
    shutil.rmtree(lists)


def one_byte_files(table, base, runs, count):
    """Verification of `count` one-byte files in one list, against
    `md5sum -c`: each record's own cost, with next to nothing to hash."""
    folder = os.path.join(base, "tiny")
    os.mkdir(folder)
    lines = []
    for i in range(count):
        data = os.urandom(1)
        with open(os.path.join(folder, "t%06d.dat" % i), "wb") as f:
            f.write(data)
        lines.append("%s *t%06d.dat\n" % (hashlib.md5(data).hexdigest(), i))
    listing = os.path.join(base, "tiny.md5")
    with open(listing, "w") as f:
        f.writelines(lines)
    shutil.copy(listing, os.path.join(folder, "all.md5"))
    case = "%d one-byte files, one list" % count
    contenders = [
        ("digestbox verify MD5", lambda: timed_alone(folder, verified(count))),
        ("md5sum -c list", lambda: timed_peer(
            ["md5sum", "-c", "--quiet", listing], folder))]
    samples = in_turns(runs, contenders)
    mine = table.add(case, contenders[0][0], samples[0], count)
    peer = table.add(case, contenders[1][0], samples[1], count, mine)
    table.targets.append((case + " / md5sum -c", mine / peer, 0.8))
    shutil.rmtree(folder)
    os.remove(listing)


def folder_of_files(table, base, display, runs, count):
    """`count` files of 1 MiB, each with a digest file of its own, against
    the threaded peer: hashdeep's audit with a job per core."""
    folder = os.path.join(base, "folder")
    os.mkdir(folder)
    known = os.path.join(base, "known.txt")
    names = list_each(folder, count, known)
    cores = CORES
    case = "%d files of 1 MiB, a list each" % count
    contenders = [
        ("digestbox verify", lambda: timed_alone(folder, verified(count))),
        ("hashdeep -c md5 -j%d audit" % cores, lambda: timed_peer(
            ["hashdeep", "-c", "md5", "-j%d" % cores, "-a", "-k", known, "-l"]
            + names, folder)),
        ("md5sum -c *.md5", lambda: timed_peer(
            ["md5sum", "-c", "--quiet"] + [n + ".md5" for n in names], folder))]
    samples = in_turns(runs, contenders)
    mine = table.add(case, contenders[0][0], samples[0], count << 20)
    hashdeep = table.add(case, contenders[1][0], samples[1], count << 20, mine)
    table.add(case, contenders[2][0], samples[2], count << 20, mine)
    table.targets.append((case + " / hashdeep", mine / hashdeep, 0.85))
    table.limit(case + " verify", "md5", cores, mine, count << 20)
    shutil.rmtree(folder)
