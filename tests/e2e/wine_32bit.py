"""What 32-bit code alone can get wrong, run on the 32-bit release program
(the last one named): a file past 4 GiB, whose size and offsets outgrow 32
bits, created, shown in the progress window and verified. (A list of
2,000,000 records is a unit case.)"""

import os
import re
import shutil

from tests import texts
from tests.e2e.wine import bits_of

# 4 GiB of zeros, then "x": sparse, so seconds of hashing and no disk.
BIG = "big.bin"
BIG_SIZE = (4 << 30) + 1
BIG_MD5 = "946005287ba386e1aa04031fcb20051d"


def beyond_4gib(wine, runner, root):
    """Created and verified right, and the progress window's total is the
    whole size (StrFormatByteSizeW: 4.00 GB), with a share below 100% that
    its bar agrees with: a size or offset cut to 32 bits shows 1 byte, or
    hashes one byte."""
    if bits_of(runner.program) != 32 or not runner.last_program:
        return  # minutes of hashing: on the release program alone
    folder = os.path.join(root, "beyond-4gib")
    os.mkdir(folder)
    with open(os.path.join(folder, BIG), "wb") as f:
        f.truncate(BIG_SIZE - 1)
        f.seek(BIG_SIZE - 1)
        f.write(b"x")
    got = runner.drive(folder, "shift", "yes")
    del runner.transcript[-len(got):]  # the release program's alone
    with open(os.path.join(folder, BIG + ".md5"), "rb") as f:
        written = f.read()
    runner.check("4 GiB + 1 byte: created, the digest of every byte",
                 got[-1] == "exit: 0" and
                 written == (BIG_MD5 + " *" + BIG + "\n").encode(),
                 (got, written))
    got = runner.drive(folder, "none", cancel_ms=2500)
    del runner.transcript[-len(got):]  # the counts are a matter of timing
    shown = got[3] if len(got) > 4 else ""
    heading = re.search(r"0 / 1 件  (\d+)%", shown)
    bar = re.match(r"bar: (\d+)$", got[4]) if len(got) > 4 else None
    # The bar is read after the text: a tick between may move it on.
    runner.check("4 GiB + 1 byte: the window's total is the whole size, its "
                 "share below 100% and the bar's",
                 " / 4.00 GB" in shown and heading is not None and
                 bar is not None and int(heading.group(1)) < 100 and
                 0 <= int(bar.group(1)) - int(heading.group(1)) <= 2, got)
    got = runner.drive(folder, "none")
    del runner.transcript[-len(got):]
    runner.check("4 GiB + 1 byte: verified",
                 got == ["box", "caption: " + texts.OK_CAPTION,
                         "icon: information", "buttons: ok",
                         "text: %s - OK\\r\\n\\r\\n%s" % (BIG, texts.OK_CAPTION),
                         "exit: 0"], got)
    shutil.rmtree(folder)
