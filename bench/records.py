"""The cases of many records: a million of missing files and their peak
memory, and how verification scales with the count. Used by bench/run."""

import hashlib
import os
import shutil

from tests import texts
from timing import (created, in_turns, remove_matching, repeat, timed_alone,
                    timed_digestbox, timed_peer_failing, verified)


def million_records(table, base, display, runs, count):
    """A list of `count` records of missing files, against `md5sum -c`, and
    creation over a folder of `count` empty files: the time and the peak
    memory, which must stay within 200 MiB however many records there are,
    the names 12 bytes long, and then 32."""
    folder = os.path.join(base, "million")
    os.mkdir(folder)
    listing = os.path.join(folder, "all.md5")
    with open(listing, "w") as f:
        for i in range(count):
            f.write("d41d8cd98f00b204e9800998ecf8427e *m%07d.dat\n" % i)
    missing = lambda boxes: (len(boxes) == 1 and boxes[0][0].count(
        " - " + texts.UNREADABLE) == count)
    case = "%d records of missing files" % count
    contenders = [
        ("digestbox verify (one list)", lambda: timed_alone(folder, missing)),
        ("md5sum -c list", lambda: timed_peer_failing(
            ["md5sum", "-c", "--quiet", "all.md5"], folder))]
    samples = in_turns(runs, contenders)
    mine = table.add(case, contenders[0][0], samples[0], 0)
    peer = table.add(case, contenders[1][0], samples[1], 0, mine)
    table.targets.append((case + " / md5sum -c", mine / peer, 1.0))
    table.targets.append((case + ": peak MiB / 200 MiB",
                          max(s[1] for s in samples[0]) / 1024.0 / 200, 1.0))
    os.remove(listing)
    long_names(table, folder, runs, count, missing)
    os.remove(listing)
    for i in range(count):
        open(os.path.join(folder, "m%07d.dat" % i), "wb").close()
    case = "a folder of %d empty files" % count
    taken = repeat(min(runs, 3), lambda: timed_digestbox(
        folder, display, "shift", ["y"], created),
        lambda: remove_matching(folder, ".md5"))
    table.add(case, "digestbox create MD5", taken, 0)
    table.targets.append((case + ": peak MiB / 200 MiB",
                          max(s[1] for s in taken) / 1024.0 / 200, 1.0))
    shutil.rmtree(folder)


def long_names(table, folder, runs, count, missing):
    """The missing records with names of 32 bytes: the peak memory."""
    listing = os.path.join(folder, "all.md5")
    with open(listing, "w") as f:
        for i in range(count):
            f.write("d41d8cd98f00b204e9800998ecf8427e *missing-%020d.dat\n" % i)
    case = "%d missing, names of 32 bytes" % count
    taken = repeat(runs, lambda: timed_alone(folder, missing))
    table.add(case, "digestbox verify (one list)", taken, 0)
    table.targets.append((case + ": peak MiB / 200 MiB",
                          max(s[1] for s in taken) / 1024.0 / 200, 1.0))


def scaling(table, base, display, runs, counts):
    medians = []
    for count in counts:
        folder = os.path.join(base, "scale%d" % count)
        os.mkdir(folder)
        for i in range(count):
            name = "s%06d.txt" % i
            data = b"%d\n" % i
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            with open(os.path.join(folder, name + ".md5"), "wb") as f:
                f.write(hashlib.md5(data).hexdigest().encode() + b" *" +
                        name.encode() + b"\n")
        medians.append(table.add("verify %d records" % count, "digestbox verify",
                                 repeat(runs, lambda: timed_digestbox(
                                     folder, display, "none", [], verified(count))),
                                 0))
        shutil.rmtree(folder)
    print("scaling %d -> %d records: %.2f x the time (linear: %.0f)" % (
        counts[0], counts[1], medians[1] / medians[0], counts[1] / counts[0]))
