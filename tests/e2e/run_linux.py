#!/usr/bin/env python3
"""The Linux program as a whole process: keys held on Xvfb, boxes answered at
a pseudo-terminal, files checked byte for byte, digest files cross-checked
with coreutils, and (with --valgrind) every run under valgrind's memcheck.
Ends with 'N passed, N failed'."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

from tests.e2e.checks import Checks, files_of
from tests.e2e.linux_session import (Display, plant_module, run_at_terminal,
                                     run_without_terminal)

MD5_QUESTION = ("[確認] ハッシュ作成の確認\nカレントディレクトリ上のファイルのMD5ハッシュを作成しますか？\n"
                "(SHA1ハッシュを作成する場合はSHIFT+CTRLキーを押しながら起動します。)\n")
SHA1_QUESTION = ("[確認] ハッシュ作成の確認\nカレントディレクトリ上のファイルのSHA1ハッシュを作成しますか？\n"
                 "(MD5ハッシュを作成する場合はSHIFTキーのみ押しながら起動します。)\n")
DONE = "[情報] ハッシュの作成\n作成が終了しました。\n"
NOTHING = ("[エラー] digestbox\nダイジェストファイル(*.md5/*.sha1)がカレントディレクトリに1つも存在しないため検証できません。\n\n"
           "(検証するのではなく、ダイジェストファイルを新規に作成する場合は\n"
           "SHIFTキー、もしくはSHIFT+CTRLキーを押しながら起動します。)\n")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    program = os.path.abspath(args[0] if args else "build/linux/digestbox")
    command = [program]
    if "--valgrind" in sys.argv:
        command = ["valgrind", "-q", "--leak-check=full",
                   "--show-leak-kinds=definite,indirect,possible",
                   "--errors-for-leak-kinds=definite,indirect,possible",
                   "--error-exitcode=9"] + command
    checks = Checks()
    root = tempfile.mkdtemp(prefix="digestbox-e2e-")
    display = Display()
    try:
        folder = os.path.join(root, "work")
        os.mkdir(folder)
        stderr, code = run_without_terminal(command, folder)
        checks.check("no terminal, no key: the box on standard error, exit 0",
                     stderr == NOTHING + "[Enter] \n" and code == 0,
                     repr((stderr, code)))

        contents = {"abc.txt": b"abc", "empty": b"",
                    "日本語 name.txt": "日本".encode(), "big.bin": os.urandom(300000),
                    "caf\xe9".encode("latin-1").decode("utf-8", "surrogateescape"): b"x"}
        for name, data in contents.items():
            with open(os.path.join(folder.encode(), name.encode("utf-8", "surrogateescape")), "wb") as f:
                f.write(data)
        before = files_of(folder)

        boxes, code = run_at_terminal(command, folder, display, "shift", ["n"])
        checks.check("shift, No: the MD5 question and nothing else",
                     boxes == [(MD5_QUESTION, "n")] and code == 0, (boxes, code))
        checks.check("shift, No: folder untouched", files_of(folder) == before)

        boxes, code = run_at_terminal(command, folder, display, "shift+ctrl", ["no"])
        checks.check("shift+ctrl, No: the SHA-1 question",
                     boxes == [(SHA1_QUESTION, "no")] and code == 0, (boxes, code))

        boxes, code = run_at_terminal(command, folder, display, "shift", ["yes"])
        checks.check("shift, Yes: question then completion",
                     boxes == [(MD5_QUESTION, "yes"), (DONE, "")] and code == 0,
                     (boxes, code))
        want = dict(before)
        for name, data in contents.items():
            raw = name.encode("utf-8", "surrogateescape")
            want[name + ".md5"] = hashlib.md5(data).hexdigest().encode() + b" *" + raw + b"\n"
        checks.check("shift, Yes: one record per file, byte for byte",
                     files_of(folder) == want)
        md5sum = subprocess.run("md5sum -c --strict *.md5", shell=True, cwd=folder,
                                capture_output=True)
        checks.check("coreutils md5sum -c accepts every digest file",
                     md5sum.returncode == 0, md5sum.stdout + md5sum.stderr)

        boxes, code = run_at_terminal(command, folder, display, "none")
        report = boxes[0][0] if len(boxes) == 1 else ""
        checks.check("no key: every record OK",
                     report.startswith("[情報] 検証に成功しました。\n") and
                     report.count(" - OK\n") == len(contents) and
                     report.endswith("\n\n検証に成功しました。\n") and code == 0, boxes)

        with open(os.path.join(folder, "abc.txt"), "wb") as f:
            f.write(b"abd")
        os.remove(os.path.join(folder, "big.bin"))
        boxes, code = run_at_terminal(command, folder, display, "ctrl")
        report = boxes[0][0] if len(boxes) == 1 else ""
        checks.check("ctrl alone: verification reports the change and the loss",
                     report.startswith("[エラー] 検証に失敗しました。\n") and
                     "abc.txt - ハッシュ値が一致しません。\n" in report and
                     "big.bin - ファイルが見つからないか、読み込みに失敗しました。\n" in report,
                     boxes)

        boxes, code = run_at_terminal(command, folder, display, "shift+ctrl", ["はい"])
        checks.check("shift+ctrl, はい: SHA-1 digest files",
                     boxes == [(SHA1_QUESTION, "はい"), (DONE, "")] and code == 0, boxes)
        sha1sum = subprocess.run("sha1sum -c --strict *.sha1", shell=True,
                                 cwd=folder, capture_output=True)
        checks.check("coreutils sha1sum -c accepts every SHA-1 file",
                     sha1sum.returncode == 0, sha1sum.stdout + sha1sum.stderr)

        # Names are data anyone can write: none may act on the terminal.
        hostile = os.path.join(root, "hostile")
        os.mkdir(hostile)
        with open(os.path.join(hostile, "a.txt"), "wb") as f:
            f.write(b"a")
        zeros = b"0" * 32
        with open(os.path.join(hostile, "list.md5"), "wb") as f:
            f.write(zeros + b" *a.txt\n" + zeros + b" *up\x1b[1A\x1b[2Kerase\n")
        with open(os.path.join(hostile.encode(), b"t\x1b]0;owned\x07\r\n.md5"), "wb") as f:
            f.write(b"abc odd-length digest\n")
        boxes, code = run_at_terminal(command, hostile, display, "none")
        stderr, _ = run_without_terminal(command, hostile)
        shown = "".join(text for text, _ in boxes)
        checks.check("hostile names: shown inert and visible at the terminal and on stderr",
                     len(boxes) == 2 and code == 0 and
                     all(c not in shown + stderr for c in "\x1b\x07\r") and
                     "[エラー] t\\x1b]0;owned\\x07\\x0d\\x0a.md5\n" in shown and
                     "a.txt - ハッシュ値が一致しません。\n"
                     "up\\x1b[1A\\x1b[2Kerase - ファイルが見つからないか" in shown and
                     stderr.replace("[Enter] \n", "") == shown.replace("[Enter] ", ""),
                     (boxes, stderr))

        # A downloaded folder with the program copied in, and a module planted
        # beside it: never loaded, even where a display is named (a dead one).
        planted = os.path.join(root, "planted")
        os.mkdir(planted)
        marker = os.path.join(root, "planted-module-ran")
        plant_module(planted, marker)
        shutil.copy(program, planted)
        copied = [os.path.join(planted, os.path.basename(program))]
        stderr, code = run_without_terminal(command[:-1] + copied, planted, ":999")
        checks.check("a module planted beside a copied program is not loaded",
                     stderr == NOTHING + "[Enter] \n" and code == 0 and
                     not os.path.exists(marker), (stderr, code))

        stdin_folder = os.path.join(root, "samples")
        shutil.copytree(os.path.join(os.path.dirname(__file__), "..", "..", "samples"),
                        stdin_folder)
        boxes, code = run_at_terminal(command, stdin_folder, display, "none")
        checks.check("the bundled samples verify",
                     len(boxes) == 1 and boxes[0][0].startswith("[情報]") and code == 0,
                     boxes)
    finally:
        display.close()
        shutil.rmtree(root, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
