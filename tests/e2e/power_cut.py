"""Creation over 100 digest files on ext4 while another program fsyncs
a file of its own there, the power cut at every flush of
the disk and at 50 sampled points between writes: each state, once e2fsck
has replayed its journal, holds every digest file old or new (never empty,
never partial), and the state at the last flush before the completion box
holds every one new. The disk is a loop device on a file that BlockLog
serves; skipped (77) where /dev/fuse, loop devices or root are missing.

    python3 -m tests.e2e.power_cut build/linux/digestbox
"""

import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading

from tests import texts
from tests.e2e.block_log import BlockLog, replay
from tests.e2e.checks import Checks
from tests.e2e.linux_session import Display, run_at_terminal

SIZE = 32 * 1024 * 1024
FILES = 100
OLD = b"0123456789abcdef0123456789abcdef *an older record\n"


def _quiet(argv):
    return subprocess.run(argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False).returncode


def _base_image(root, contents):
    """A fresh ext4 image whose folder d/ holds the files and their old
    digest files."""
    path = os.path.join(root, "base.img")
    with open(path, "wb") as f:
        f.truncate(SIZE)
    subprocess.run(["mkfs.ext4", "-q", "-F", path], check=True)
    mounted = os.path.join(root, "base")
    os.mkdir(mounted)
    subprocess.run(["mount", "-o", "loop", path, mounted], check=True)
    try:
        os.mkdir(os.path.join(mounted, "d"))
        for name, data in contents.items():
            with open(os.path.join(mounted, "d", name), "wb") as f:
                f.write(data)
            with open(os.path.join(mounted, "d", name + ".md5"), "wb") as f:
                f.write(OLD)
    finally:
        subprocess.run(["umount", mounted], check=True)
    with open(path, "rb") as f:
        return f.read()


def _judge(root, image, contents):
    """(bad digest files, new ones among those that existed) of an image
    after e2fsck, or None when
    the file system itself could not be read back."""
    path = os.path.join(root, "state.img")
    with open(path, "wb") as f:
        f.write(image)
    if _quiet(["e2fsck", "-fy", path]) >= 4:
        return None
    out = os.path.join(root, "state")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    if _quiet(["debugfs", "-R", "rdump /d " + out, path]) != 0:
        return None
    bad, new = [], 0
    for name, data in contents.items():
        held = _held(out, name + ".md5")
        if held == _record(name, data):
            new += 1
        elif held != OLD:
            bad.append((name, held))
        # A digest file the run made of one it found: none yet, or whole.
        made = _held(out, name + ".md5.md5")
        if made not in (None, _record(name + ".md5", OLD),
                        _record(name + ".md5", _record(name, data))):
            bad.append((name + ".md5", made))
    return bad, new


def _held(folder, name):
    path = os.path.join(folder, "d", name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def _record(name, data):
    return hashlib.md5(data).hexdigest().encode() + b" *" + name.encode() + b"\n"


def _fsyncs(folder, stop):
    with open(os.path.join(folder, "other"), "wb") as f:
        while not stop.wait(0.005):
            f.write(b"x" * 100)
            os.fsync(f.fileno())


def power_cuts(program, root, display, checks):
    rng = random.Random(40)
    contents = {"f%03d.txt" % i: os.urandom(rng.randrange(1, 3000))
                for i in range(FILES)}
    base = _base_image(root, contents)
    served = os.path.join(root, "served")
    mounted = os.path.join(root, "mounted")
    os.mkdir(served)
    os.mkdir(mounted)
    disk = BlockLog(bytearray(base), served)
    loop = None
    try:
        loop = subprocess.run(["losetup", "--show", "-f", disk.path()],
                              check=True, capture_output=True,
                              text=True).stdout.strip()
        subprocess.run(["mount", "-t", "ext4", loop, mounted], check=True)
        # Another program's fsyncs commit the journal while the run goes on,
        # with whatever renames it holds by then.
        stop = threading.Event()
        other = threading.Thread(target=_fsyncs, args=(mounted, stop))
        start = disk.mark()
        other.start()
        try:
            boxes, code = run_at_terminal([program], os.path.join(mounted, "d"),
                                          display, "shift", ["y"])
            at_box = disk.mark()
        finally:
            stop.set()
            other.join()
        subprocess.run(["umount", mounted], check=True)
    finally:
        if loop:
            _quiet(["losetup", "-d", loop])
        disk.close()
    done = any(texts.DONE in box for box, _ in boxes)
    log = disk.log
    flushes = [i + 1 for i, entry in enumerate(log) if entry[0] == "flush"]
    last = max([i for i in flushes if i <= at_box] or [0])
    writes = [i for i, entry in enumerate(log) if entry[0] == "write" and
              i >= start]
    points = sorted(set([start, last] + flushes +
                        rng.sample(writes, min(50, len(writes)))))
    faults = []
    for upto in points:
        judged = _judge(root, replay(base, log, upto), contents)
        if judged is None or judged[0] or (upto == last and judged[1] != FILES):
            faults.append((upto, judged and (judged[0][:3], judged[1])))
    checks.check("ext4: power cut at %d flushes and %d other points of %d "
                 "writes: every digest file old or new, all new at the last "
                 "flush before the box" % (len(flushes), len(points) -
                                            len(flushes), len(writes)),
                 done and code == 0 and last > start and not faults,
                 (boxes[-1:], faults[:5]))


def main():
    program = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                              "build/linux/digestbox")
    missing = [p for p in ("/dev/fuse", "/dev/loop-control")
               if not os.path.exists(p)]
    if missing or os.geteuid() != 0 or not shutil.which("e2fsck"):
        print("[SKIP] power cuts: need root, e2fsprogs, %s"
              % " and ".join(missing or ["/dev/fuse", "/dev/loop-control"]))
        return 77
    checks = Checks()
    root = tempfile.mkdtemp(prefix="digestbox-power-")
    display = Display()
    try:
        power_cuts(program, root, display, checks)
    finally:
        display.close()
        shutil.rmtree(root, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
