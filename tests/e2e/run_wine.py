#!/usr/bin/env python3
"""Runs a Windows build under Wine on an Xvfb display of its own: the unit
suites, then the program itself through box_driver.exe, checking every box it
shows byte for byte and every file it leaves; then the same for each further
executable named (a release build), whose transcript must be the same byte
for byte. Ends with 'N passed, N failed'.

    python3 -m tests.e2e.run_wine BUILD [EXE...]    (from the repository)

A 32-bit build needs a kernel that runs 32-bit code: where it cannot, the
run is skipped, and said so."""

import hashlib
import os
import subprocess
import sys

from tests.e2e.checks import Checks, files_of
from tests.e2e.wine import Wine, bits_of, private_locale, runs_32bit_code

PROGRAM = DRIVER = None
SUITES = []


def use_build(build):
    """Points the script at a build folder of the win32 preset."""
    global PROGRAM, DRIVER, SUITES
    build = os.path.abspath(build)
    PROGRAM = os.path.join(build, "digestbox.exe")
    DRIVER = os.path.join(build, "tests", "box_driver.exe")
    SUITES = [os.path.join(build, "tests", name)
              for name in ("digestbox_tests.exe", "digestbox_fault_tests.exe")]


use_build(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                       "build", "win32"))

MD5_QUESTION = ("カレントディレクトリ上のファイルのMD5ハッシュを作成しますか？\\r\\n"
                "(SHA1ハッシュを作成する場合はSHIFT+CTRLキーを押しながら起動します。)")
SHA1_QUESTION = ("カレントディレクトリ上のファイルのSHA1ハッシュを作成しますか？\\r\\n"
                 "(MD5ハッシュを作成する場合はSHIFTキーのみ押しながら起動します。)")
NOTHING = ("ダイジェストファイル(*.md5/*.sha1)がカレントディレクトリに1つも存在しないため検証できません。"
           "\\r\\n\\r\\n(検証するのではなく、ダイジェストファイルを新規に作成する場合は\\r\\n"
           "SHIFTキー、もしくはSHIFT+CTRLキーを押しながら起動します。)")
OK_CAPTION = "検証に成功しました。"
FAILED_CAPTION = "検証に失敗しました。"
MISMATCH = "ハッシュ値が一致しません。"
UNREADABLE = "ファイルが見つからないか、読み込みに失敗しました。"


def box(caption, icon, buttons, text, answer=None):
    lines = ["box", "caption: " + caption, "icon: " + icon,
             "buttons: " + buttons, "text: " + text]
    if answer:
        lines.append("answer: " + answer)
    return lines


QUESTION_CAPTION = "ハッシュ作成の確認"
DONE = box("ハッシュの作成", "information", "ok", "作成が終了しました。")


class Runner(Checks):
    def __init__(self, wine):
        super().__init__()
        self.wine = wine
        self.program = PROGRAM
        self.transcript = []  # every box of every run, in order

    def drive(self, folder, keys, answers="-", locale=None, trace=None):
        """The run's boxes; with `trace` (a list), Wine's file-system trace
        of the run is appended to it."""
        transcript = os.path.join(self.wine.root, "transcript.txt")
        env = dict(self.wine.env)
        if locale:
            env.update(LANG=locale, LC_ALL=locale)
        if trace is not None:
            env["WINEDEBUG"] = "+file"
        run = subprocess.run([self.wine.loader, DRIVER, self.wine.windows_path(self.program),
                              self.wine.windows_path(folder), keys, answers,
                              self.wine.windows_path(transcript)], env=env,
                             check=True, timeout=180, stderr=subprocess.PIPE)
        if trace is not None:
            trace += run.stderr.decode("utf-8", "replace").splitlines()
        with open(transcript, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.transcript += lines
        return lines

    def expect(self, name, folder, keys, answers, boxes, exit_code=0):
        expected = [line for b in boxes for line in b] + ["exit: %d" % exit_code]
        got = self.drive(folder, keys, answers)
        self.check(name, got == expected,
                   "expected:\n  " + "\n  ".join(expected) +
                   "\ngot:\n  " + "\n  ".join(got))


def main():
    if len(sys.argv) > 1:
        use_build(sys.argv[1])
    programs = [PROGRAM] + [os.path.abspath(p) for p in sys.argv[2:]]
    for path in programs + [DRIVER] + SUITES:
        if not os.path.exists(path):
            raise SystemExit("missing " + path)
    bits = bits_of(PROGRAM)
    if bits == 32 and not runs_32bit_code():
        print("[SKIP] %s: this kernel cannot run 32-bit code, so neither can "
              "wine32; the win64 build runs the same suites" % os.path.dirname(PROGRAM))
        print("0 passed, 0 failed, 1 skipped")
        return 0
    wine = Wine(bits)
    runner = Runner(wine)
    try:
        for suite in SUITES:
            result = wine.run([wine.loader, suite], check=False, timeout=600)
            runner.check(os.path.basename(suite), result.returncode == 0)
        transcripts = []
        for program in programs:
            print("--- " + program)
            runner.program = program
            runner.transcript = []
            scenario(wine, runner, os.path.join(wine.root, "run%d" % len(transcripts)))
            transcripts.append(runner.transcript)
        for program, transcript in zip(programs[1:], transcripts[1:]):
            runner.check("%s: the same transcript, byte for byte" % program,
                         transcript == transcripts[0])
    finally:
        wine.close()
    return runner.summary()


def scenario(wine, runner, root):
    """Every box of a program's runs, checked; run in a folder of its own."""
    os.mkdir(root)
    folder = os.path.join(root, "work")
    os.mkdir(folder)
    runner.expect("no key: verification, no question", folder, "none", "-",
                  [box("Error", "error", "ok", NOTHING)])
    runner.expect("ctrl alone: verification", folder, "ctrl", "-",
                  [box("Error", "error", "ok", NOTHING)])

    contents = {"abc.txt": b"abc", "empty": b"", "two words.bin": bytes(range(256)) * 20}
    for name, data in contents.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    before = files_of(folder)
    runner.expect("shift, No: the MD5 question, nothing changes", folder,
                  "shift", "no",
                  [box(QUESTION_CAPTION, "question", "yes/no", MD5_QUESTION, "no")])
    runner.check("shift, No: folder untouched", files_of(folder) == before)
    runner.expect("shift+ctrl, No: the SHA-1 question", folder,
                  "shift+ctrl", "no",
                  [box(QUESTION_CAPTION, "question", "yes/no", SHA1_QUESTION, "no")])

    runner.expect("shift, Yes: MD5 digest files and the completion box",
                  folder, "shift", "yes",
                  [box(QUESTION_CAPTION, "question", "yes/no", MD5_QUESTION, "yes"),
                   DONE])
    after = files_of(folder)
    want = dict(before)
    for name, data in contents.items():
        want[name + ".md5"] = (hashlib.md5(data).hexdigest() + " *" + name +
                               "\n").encode()
    runner.check("shift, Yes: one record per file, byte for byte",
                 after == want, repr(after))

    lines = "".join(sorted("%s - OK\\r\\n" % name for name in contents))
    got = runner.drive(folder, "none")
    report = [l for l in got if l.startswith("text: ")]
    runner.check("no key after creation: every record OK",
                 len(report) == 1 and sorted(report[0][6:].split("\\r\\n")[:-2])
                 == sorted(lines.split("\\r\\n")[:-1]) and
                 report[0].endswith("\\r\\n\\r\\n" + OK_CAPTION) and
                 "caption: " + OK_CAPTION in got and "icon: information" in got,
                 "\n".join(got))

    with open(os.path.join(folder, "abc.txt"), "wb") as f:
        f.write(b"abd")
    for name in ("empty.md5", "two words.bin.md5"):
        os.remove(os.path.join(folder, name))
    runner.expect("a changed file: mismatch and the failure caption",
                  folder, "none", "-",
                  [box(FAILED_CAPTION, "error", "ok",
                       "abc.txt - " + MISMATCH + "\\r\\n\\r\\n" + FAILED_CAPTION)])

    runner.expect("shift+ctrl, Yes: SHA-1 digest files", folder,
                  "shift+ctrl", "yes",
                  [box(QUESTION_CAPTION, "question", "yes/no", SHA1_QUESTION, "yes"),
                   DONE])
    with open(os.path.join(folder, "abc.txt.sha1"), "rb") as f:
        runner.check("shift+ctrl, Yes: 40 digits",
                     f.read() == (hashlib.sha1(b"abd").hexdigest() +
                                  " *abc.txt\n").encode())

    bad = os.path.join(root, "bad")
    os.mkdir(bad)
    with open(os.path.join(bad, "bad.md5"), "wb") as f:
        f.write(b"abc *x\n")
    runner.expect("a malformed digest file: its box, then nothing to verify",
                  bad, "none", "-",
                  [box("bad.md5", "error", "ok",
                       "ファイルのフォーマットが不正であるか解析に失敗しました。"),
                   box("Error", "error", "ok", NOTHING)])

    # Records from elsewhere naming network places or devices: never opened,
    # so no credentials go out; each reads as not found.
    remote = os.path.join(root, "remote")
    os.mkdir(remote)
    names = ["\\\\evilhost\\share\\x", "//evilhost/x", "\\/evilhost\\x",
             "\\\\?\\UNC\\evilhost\\x", "\\??\\UNC\\evilhost\\x",
             "\\\\.\\evilhost", "\\\\evilhost@SSL\\DavWWWRoot\\x"]
    with open(os.path.join(remote, "list.md5"), "wb") as f:
        f.write("".join("%s *%s\n" % ("0" * 32, n) for n in names).encode())
    trace = []
    got = runner.drive(remote, "none", trace=trace)
    report = "".join(n.replace("\\", "\\\\") + " - " + UNREADABLE + "\\r\\n"
                     for n in names)
    reached = [line for line in trace if "evilhost" in line]
    runner.check("network and device names: never opened, each not found",
                 got == box(FAILED_CAPTION, "error", "ok",
                            report + "\\r\\n" + FAILED_CAPTION) + ["exit: 0"] and
                 not reached, "\n".join(got + reached[:10]))

    # Look-alike characters the code page lacks are written as its default
    # character, never as the letter or separator they resemble.
    alike = os.path.join(root, "alike")
    os.mkdir(alike)
    for name in ("\uff53etup.exe", "\uff3c\uff3cevilhost\uff3cx"):
        with open(os.path.join(alike, name), "wb") as f:
            f.write(b"abc")
    runner.drive(alike, "shift", "yes")
    records = [open(os.path.join(alike, n + ".md5"), "rb").read()[34:]
               for n in ("\uff53etup.exe", "\uff3c\uff3cevilhost\uff3cx")]
    runner.check("look-alike names: written with the default character",
                 records == [b"?etup.exe\n", b"??evilhost?x\n"], repr(records))

    # Reports too long for a message box: a box of the program's own, on
    # screen, holding the whole text, opened at the first failing line.
    for count, failing in ((3000, (1456, 2208)), (20000, (14000,))):
        long = os.path.join(root, "long%d" % count)
        os.mkdir(long)
        open(os.path.join(long, "a"), "wb").close()
        names = ["gone" if i in failing else "a" for i in range(1, count + 1)]
        with open(os.path.join(long, "a.md5"), "wb") as f:
            f.write("".join("%s *%s\n" % (hashlib.md5(b"").hexdigest(), n)
                            for n in names).encode())
        text = "".join(n + " - " + (UNREADABLE if n == "gone" else "OK") + "\\r\\n"
                       for n in names) + "\\r\\n" + FAILED_CAPTION
        got = runner.drive(long, "none")
        place = got[5].split(", ") if len(got) == 7 else []
        first = failing[0] - 1
        shown_from = int(place[4].split()[-1]) if len(place) == 5 else -1
        runner.check("a report of %d records: its own box, whole, on screen, "
                     "at its first failure" % count,
                     got[:5] == box(FAILED_CAPTION, "error", "ok", text) and
                     place[:4] == ["report: on screen yes", "ok on screen yes",
                                   "ok default yes", "selected line %d" % first]
                     and 0 <= first - shown_from < 100,
                     "\n".join(line[:300] for line in got))

    japanese = os.path.join(root, "cp932")
    os.mkdir(japanese)
    with open(os.path.join(japanese, "日本語.txt"), "wb") as f:
        f.write(b"abc")
    if private_locale(wine, "ja_JP", "UTF-8"):
        runner.drive(japanese, "shift", "yes", locale="ja_JP.UTF-8")
        with open(os.path.join(japanese, "日本語.txt.md5"), "rb") as f:
            written = f.read()
        runner.check("code page 932: the name is written in Shift_JIS",
                     written == (hashlib.md5(b"abc").hexdigest() + " *").encode()
                     + "日本語.txt".encode("cp932") + b"\n", repr(written))
        got = runner.drive(japanese, "none", locale="ja_JP.UTF-8")
        runner.check("code page 932: the record verifies",
                     "text: 日本語.txt - OK\\r\\n\\r\\n" + OK_CAPTION in got,
                     "\n".join(got))
    else:
        print("[SKIP] code page 932: no ja_JP.UTF-8 locale here")


if __name__ == "__main__":
    sys.exit(main())
