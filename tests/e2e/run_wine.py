#!/usr/bin/env python3
"""Runs a Windows build under Wine on an Xvfb display of its own: the unit
suites, then the program itself through box_driver.exe, checking every box it
shows byte for byte and every file it leaves; then the same for each further
executable named (a release build), whose transcript must be the same byte
for byte. Ends with 'N passed, N failed'.

    python3 -m tests.e2e.run_wine BUILD [EXE...] [--case=NAME...]    (from the repository)

--case runs only the cases named (the functions in CASES), without the unit
suites; --suites runs the unit suites alone.

A 32-bit build needs a kernel that runs 32-bit code: where it cannot, the
run is skipped, and said so."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

from tests import texts
from tests.e2e import qemu32, wine_desktop, wine_names
from tests.e2e.checks import Checks, files_of, long_verification, skip
from tests.e2e.wine import Wine, bits_of, private_locale
from tests.e2e.wine_32bit import beyond_4gib
from tests.texts import escaped

REPOSITORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

MD5_QUESTION = escaped(texts.MD5_QUESTION)
SHA1_QUESTION = escaped(texts.SHA1_QUESTION)
NOTHING = escaped(texts.NOTHING)
OK_CAPTION, FAILED_CAPTION = texts.OK_CAPTION, texts.FAILED_CAPTION
MISMATCH, UNREADABLE = texts.MISMATCH, texts.UNREADABLE
QUESTION_CAPTION = texts.QUESTION_CAPTION


class Build:
    """A build folder of the win32 or win64 preset: its program, the box
    driver and the unit suites."""

    def __init__(self, folder=os.path.join(REPOSITORY, "build", "win32")):
        folder = os.path.abspath(folder)
        self.program = os.path.join(folder, "digestbox.exe")
        self.driver = os.path.join(folder, "tests", "box_driver.exe")
        self.suites = [os.path.join(folder, "tests", name) for name in
                       ("digestbox_tests.exe", "digestbox_fault_tests.exe")]


def box(caption, icon, buttons, text, answer=None):
    lines = ["box", "caption: " + caption, "icon: " + icon,
             "buttons: " + buttons, "text: " + text]
    if answer:
        lines.append("answer: " + answer)
    return lines


DONE = box(texts.DONE_CAPTION, "information", "ok", texts.DONE)


class Runner(Checks):
    """Drives one program through the box driver and keeps its transcript."""

    def __init__(self, wine, driver, program):
        super().__init__()
        self.wine = wine
        self.driver = driver
        self.program = program
        self.transcript = []  # every box of every run, in order
        self.last_program = True  # the last of the programs named

    def drive(self, folder, keys, answers="-", locale=None, trace=None,
              kill_ms=None, cancel_ms=None):
        """The run's boxes; with `trace` (a list), Wine's file-system trace
        of the run is appended to it. With `kill_ms`, the program is ended
        that long after the first answer, and the run is left out of the
        transcript (where it ended is a matter of timing). With `cancel_ms`,
        a progress window is read that long after it shows and cancelled.
        `locale` is one locale, or a pair (system, user) set apart."""
        transcript = os.path.join(self.wine.root, "transcript.txt")
        env = dict(self.wine.env)
        if isinstance(locale, tuple):
            # Wine takes the system code page from LC_CTYPE, the user's
            # locale (and the thread's code page) from LC_MESSAGES.
            env.pop("LC_ALL", None)
            env.update(LANG=locale[1], LC_CTYPE=locale[0], LC_MESSAGES=locale[1])
        elif locale:
            env.update(LANG=locale, LC_ALL=locale)
        if trace is not None:
            env["WINEDEBUG"] = "+file"
        if cancel_ms is not None:
            env["BOX_DRIVER_CANCEL_MS"] = str(cancel_ms)
        run = subprocess.run([self.wine.loader, self.driver,
                              self.wine.windows_path(self.program),
                              self.wine.windows_path(folder), keys, answers,
                              self.wine.windows_path(transcript)]
                             + ([] if kill_ms is None else [str(kill_ms)]), env=env,
                             check=True, timeout=300, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        said = run.stdout.decode("utf-8", "replace")
        sys.stdout.write(said)
        shown = re.findall(r"shown (\d+) ms", said)
        self.shown_ms = int(shown[-1]) if shown else None
        if trace is not None:
            trace += run.stderr.decode("utf-8", "replace").splitlines()
        with open(transcript, encoding="utf-8") as f:
            lines = f.read().splitlines()
        if kill_ms is None:
            self.transcript += lines
        return lines

    def expect(self, name, folder, keys, answers, boxes, exit_code=0):
        expected = [line for b in boxes for line in b] + ["exit: %d" % exit_code]
        got = self.drive(folder, keys, answers)
        self.check(name, got == expected,
                   "expected:\n  " + "\n  ".join(expected) +
                   "\ngot:\n  " + "\n  ".join(got))


# Under qemu every instruction of the 32-bit programs is emulated, some ten
# times slower: the unit cases that assert a time are left out, and so are
# the end-to-end cases that add nothing 32-bit code could get wrong beside
# those that stay (the seam's opens, names and metadata, the boxes and the
# task dialog, the cut report, a file past 4 GiB); the 64-bit program runs
# them all. cancelled_verification is among the rest: it expects the first
# record checked 1.5 s after the window shows, which emulation may not give.
TIMED_UNIT_CASES = [
    "PipelineTest.AStopEndsThePassWaitAndNeverWaitsForAStuckWorker",
    "PipelineTest.TheCrewJoinsWhatEndsAndLeavesWhatIsStuck",
    "CryptoFaultTest.ACancelAnswersWhileAHashNeverReturns"]
EMULATED = ["creation_and_verification", "long_reports", "code_page_932",
            "short_names", "device_names", "kept_on_recreation", "beyond_4gib",
            "trailing_dots_and_spaces", "planted_dll"]
# Where 32-bit code also runs natively, the way through qemu is tried on the
# release program alone, on one case.
SMOKE = ["creation_and_verification"]


def emulated_share(suites, cases, programs, only):
    """What runs under qemu: the suites, their gtest filter, the cases and
    the programs."""
    unit_filter = ["--gtest_filter=-" + ":".join(TIMED_UNIT_CASES)]
    if "--emulated-smoke" in sys.argv:
        return [], [], [c for c in cases if c.__name__ in SMOKE], programs[-1:]
    if not only:
        left = [c.__name__ for c in cases if c.__name__ not in EMULATED]
        print("under qemu; the 64-bit program's run covers: " +
              ", ".join(left + TIMED_UNIT_CASES))
        cases = [c for c in cases if c.__name__ in EMULATED]
    return suites, unit_filter, cases, programs


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    only = [a.split("=", 1)[1] for a in sys.argv[1:] if a.startswith("--case=")]
    suites_alone = "--suites" in sys.argv
    cases = [case for case in CASES if not only or case.__name__ in only]
    build = Build(*args[:1])
    programs = [build.program] + [os.path.abspath(p) for p in args[1:]]
    if suites_alone:
        cases, programs = [], []
    for path in programs + [build.driver] + build.suites:
        if not os.path.exists(path):
            raise SystemExit("missing " + path)
    bits = bits_of(build.program)
    why = qemu32.why_not() if bits == 32 else None
    if why:
        return skip("%s: no 32-bit Wine runs here: %s; the win64 build runs "
                    "the same suites" % (os.path.dirname(build.program), why))
    status = qemu32.run_inside() if bits == 32 else None
    if status is not None:
        return status
    wine = Wine(bits)
    runner = Runner(wine, build.driver, build.program)
    suites, unit_filter = [] if only else build.suites, []
    if wine.emulated:
        suites, unit_filter, cases, programs = emulated_share(
            suites, cases, programs, only)
    try:
        for suite in suites:
            result = wine.run([wine.loader, suite] + unit_filter, check=False,
                              timeout=1200)
            runner.check(os.path.basename(suite), result.returncode == 0)
        transcripts = []
        for program in programs:
            print("--- " + program)
            runner.program = program
            runner.last_program = program == programs[-1]
            runner.transcript = []
            root = os.path.join(wine.root, "run%d" % len(transcripts))
            os.mkdir(root)
            for case in cases:
                began = time.monotonic()
                case(wine, runner, root)
                print("    (%s: %.0f s)" % (case.__name__, time.monotonic() - began))
            transcripts.append(runner.transcript)
        for program, transcript in zip(programs[1:], transcripts[1:]):
            runner.check("%s: the same transcript, byte for byte" % program,
                         transcript == transcripts[0])
    finally:
        wine.close()
    return runner.summary()


# The cases each program goes through, in order; each in a folder of its own
# under `root`.

def folder_in(root, name, files=None):
    path = os.path.join(root, name)
    os.mkdir(path)
    for file_name, data in (files or {}).items():
        with open(os.path.join(path, file_name), "wb") as f:
            f.write(data)
    return path


def nothing_to_verify(wine, runner, root):
    folder = folder_in(root, "work")
    runner.expect("no key: verification, no question", folder, "none", "-",
                  [box("Error", "error", "ok", NOTHING)])
    runner.expect("ctrl alone: verification", folder, "ctrl", "-",
                  [box("Error", "error", "ok", NOTHING)])


CONTENTS = {"abc.txt": b"abc", "empty": b"", "two words.bin": bytes(range(256)) * 20}


def creation_and_verification(wine, runner, root):
    folder = folder_in(root, "files", CONTENTS)
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
    for name, data in CONTENTS.items():
        want[name + ".md5"] = (hashlib.md5(data).hexdigest() + " *" + name +
                               "\n").encode()
    runner.check("shift, Yes: one record per file, byte for byte",
                 after == want, repr(after))

    lines = "".join(sorted("%s - OK\\r\\n" % name for name in CONTENTS))
    got = runner.drive(folder, "none")
    report = [line for line in got if line.startswith("text: ")]
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


def malformed_list(wine, runner, root):
    bad = folder_in(root, "bad", {"bad.md5": b"abc *x\n"})
    runner.expect("a malformed digest file: its box, then nothing to verify",
                  bad, "none", "-",
                  [box("bad.md5", "error", "ok", texts.MALFORMED),
                   box("Error", "error", "ok", NOTHING)])


def network_names(wine, runner, root):
    """Records from elsewhere naming network places or devices: never
    opened, so no credentials go out; each reads as not found."""
    names = ["\\\\evilhost\\share\\x", "//evilhost/x", "\\/evilhost\\x",
             "\\\\?\\UNC\\evilhost\\x", "\\??\\UNC\\evilhost\\x",
             "\\\\.\\evilhost", "\\\\evilhost@SSL\\DavWWWRoot\\x"]
    remote = folder_in(root, "remote", {"list.md5": "".join(
        "%s *%s\n" % ("0" * 32, n) for n in names).encode()})
    trace = []
    got = runner.drive(remote, "none", trace=trace)
    report = "".join(n.replace("\\", "\\\\") + " - " + UNREADABLE + "\\r\\n"
                     for n in names)
    reached = [line for line in trace if "evilhost" in line]
    runner.check("network and device names: never opened, each not found",
                 got == box(FAILED_CAPTION, "error", "ok",
                            report + "\\r\\n" + FAILED_CAPTION) + ["exit: 0"] and
                 not reached, "\n".join(got + reached[:10]))


def look_alike_names(wine, runner, root):
    """Look-alike characters the code page lacks are written as they are, in
    UTF-8, never as the letter or separator they resemble."""
    names = ("\uff53etup.exe", "\uff3c\uff3cevilhost\uff3cx")
    alike = folder_in(root, "alike", {name: b"abc" for name in names})
    runner.drive(alike, "shift", "yes")
    records = [open(os.path.join(alike, n + ".md5"), "rb").read()[34:] for n in names]
    runner.check("look-alike names: written as they are, in UTF-8",
                 records == [(n + "\n").encode() for n in names], repr(records))


def long_reports(wine, runner, root):
    """Reports too long for a message box: a box of the program's own, on
    screen, holding the whole text, opened at the first failing line with
    a few lines above it, and behaving as a message box: the focus on OK,
    Ctrl+C copying the whole box, Space closing it. The time a report of failures takes to show is logged
    beside that of one failure."""
    shown = {}
    for count, failing in ((3000, (1456, 2208)), (20000, (14000,)),
                           (20000, range(1, 20001))):
        failing = set(failing)
        names = ["gone" if i in failing else "a" for i in range(1, count + 1)]
        long = folder_in(root, "long%d-%d" % (count, len(failing)), {"a": b"", "a.md5": "".join(
            "%s *%s\n" % (hashlib.md5(b"").hexdigest(), n) for n in names).encode()})
        text = "".join(n + " - " + (UNREADABLE if n == "gone" else "OK") + "\\r\\n"
                       for n in names) + "\\r\\n" + FAILED_CAPTION
        got = runner.drive(long, "none")
        shown[len(failing)] = runner.shown_ms
        place = got[5].split(", ") if len(got) == 8 else []
        first = min(failing) - 1
        shown_from = int(place[4].split()[-1]) if len(place) == 6 else -1
        runner.check("a report of %d records: its own box, whole, on screen, "
                     "at its first failure, the text named by the caption" % count,
                     got[:5] == box(FAILED_CAPTION, "error", "ok", text) and
                     place[:4] == ["report: on screen yes", "ok on screen yes",
                                   "ok default yes", "selected line %d" % first]
                     and min(first, 3) <= first - shown_from <= 20 and
                     place[5] == "text named " + FAILED_CAPTION and
                     got[6] == "report keys: focus on ok yes, ctrl+c copies the box "
                     "yes, space closes yes", "\n".join(line[:300] for line in got))
    if shown.get(1) and shown.get(20000):
        print("    20,000 failing lines showed in %.2f x the time of one failure "
              "(%d ms against %d ms)" % (shown[20000] / shown[1], shown[20000], shown[1]))


def unbroken_names(wine, runner, root):
    """A line that a message box would cut at the screen's edge (a long
    name without a space) comes in the program's own box, which wraps it."""
    name = "x" * 600
    folder = folder_in(root, "unbroken", {"a.md5": ("0" * 32 + " *" + name + "\n").encode()})
    got = runner.drive(folder, "none")
    runner.check("a 600-character name: the program's own box",
                 got[:5] == box(FAILED_CAPTION, "error", "ok", name + " - " + UNREADABLE +
                                "\\r\\n\\r\\n" + FAILED_CAPTION) and
                 len(got) == 8 and got[5].startswith("report: on screen yes"),
                 "\n".join(line[:200] for line in got))


def code_page_932(wine, runner, root):
    japanese = folder_in(root, "cp932", {"日本語.txt": b"abc"})
    if not private_locale(wine, "ja_JP", "UTF-8"):
        print("[SKIP] code page 932: no ja_JP.UTF-8 locale here")
        return
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


def mixed_locales(wine, runner, root):
    """A system code page apart from the user's format (932 with en-US, 1252
    with ja-JP): a name the system code page holds is written in it, and
    verification reads it back so."""
    for system, user, name, code_page in (("ja_JP", "en_US", "日本.txt", "cp932"),
                                          ("en_US", "ja_JP", "café.txt", "cp1252")):
        if not (private_locale(wine, system, "UTF-8") and
                private_locale(wine, user, "UTF-8")):
            print("[SKIP] %s with %s: no such locale here" % (system, user))
            continue
        folder = folder_in(root, "mixed-" + code_page, {name: b"1", "plain.txt": b"2"})
        pair = (system + ".UTF-8", user + ".UTF-8")
        runner.drive(folder, "shift", "yes", locale=pair)
        with open(os.path.join(folder, name + ".md5"), "rb") as f:
            written = f.read()[34:-1]
        got = runner.drive(folder, "none", locale=pair)
        runner.check("%s with a %s user: written in %s, verified" % (system, user, code_page),
                     written == name.encode(code_page) and report_of(got) == sorted(
                         [name + " - OK", "plain.txt - OK", "", OK_CAPTION]),
                     repr(written) + "\n" + "\n".join(got))


def report_of(got):
    """The report box's lines, sorted (records come in directory order)."""
    text = [line[6:] for line in got if line.startswith("text: ")]
    return sorted(text[-1].split("\\r\\n")) if text else []


NAMES = {"café.txt": b"1", "Łódź.txt": b"2", "\U0001f600.txt": b"3",
         "日本語.txt": b"4", "plain.txt": b"5"}


def names_beyond_the_code_page(wine, runner, root):
    """A name the code page holds exactly keeps its bytes; any other is
    written in UTF-8, and every record verifies."""
    for locale, code_page in (("ja_JP", "cp932"), ("en_US", "cp1252")):
        if not private_locale(wine, locale, "UTF-8"):
            print("[SKIP] %s: no %s.UTF-8 locale here" % (code_page, locale))
            continue
        folder = folder_in(root, "names-" + code_page, NAMES)
        runner.drive(folder, "shift", "yes", locale=locale + ".UTF-8")
        records = {}
        for name in NAMES:
            with open(os.path.join(folder, name + ".md5"), "rb") as f:
                records[name] = f.read()[34:-1]
        want = {}
        for name in NAMES:
            try:
                want[name] = name.encode(code_page)
            except UnicodeEncodeError:
                want[name] = name.encode("utf-8")
        runner.check("%s: names it holds in it, the others in UTF-8" % code_page,
                     records == want, repr(records))
        got = runner.drive(folder, "none", locale=locale + ".UTF-8")
        runner.check("%s: every record verifies" % code_page,
                     report_of(got) == sorted(["%s - OK" % n for n in NAMES] +
                                              ["", OK_CAPTION]), "\n".join(got))


def lists_from_elsewhere(wine, runner, root):
    """Lists written on Linux (UTF-8, with or without Notepad's mark) and in
    Notepad's "Unicode" verify in code page 932; a list ends at a zero byte,
    malformed there: the record ending at it is checked, none after it."""
    if not private_locale(wine, "ja_JP", "UTF-8"):
        print("[SKIP] lists from elsewhere: no ja_JP.UTF-8 locale here")
        return
    record = lambda name, data: "%s *%s\n" % (hashlib.md5(data).hexdigest(), name)
    folder = folder_in(root, "lists", {
        "café.txt": b"1", "Łódź.txt": b"2", "日本語.txt": b"3",
        "linux.md5": record("café.txt", b"1").encode(),
        "bom.md5": b"\xef\xbb\xbf" + record("Łódź.txt", b"2").encode(),
        "unicode.md5": b"\xff\xfe" + record("日本語.txt", b"3").replace(
            "\n", "\r\n").encode("utf-16-le")})
    got = runner.drive(folder, "none", locale="ja_JP.UTF-8")
    runner.check("lists in UTF-8, with the mark, and UTF-16LE: every record OK",
                 report_of(got) == sorted(["café.txt - OK", "Łódź.txt - OK",
                                           "日本語.txt - OK", "", OK_CAPTION]),
                 "\n".join(got))
    zero = folder_in(root, "zero", {"a": b"", "b": b"x", "z.md5": (
        record("a", b"") + record("b", b"x")[:-1]).encode() + b"\0" +
        record("a", b"x").encode()})
    runner.expect("a zero byte in a list: malformed there, the records up to it checked",
                  zero, "none", "-",
                  [box("z.md5", "error", "ok", texts.MALFORMED),
                   box(OK_CAPTION, "information", "ok",
                       "a - OK\\r\\nb - OK\\r\\n\\r\\n" + OK_CAPTION)])


def readings(wine, runner, root):
    """Code pages 932 and 1252, a list from elsewhere (UTF-8, no mark): a
    record whose two readings name two files is OK only when both match (a
    decoy planted under the code-page reading of an "é.txt" record); a
    folder at the code-page reading does not hide the file; a missing name
    shows its UTF-8 reading; a lone surrogate from a UTF-16LE list stays
    itself."""
    md5 = lambda data: hashlib.md5(data).hexdigest()
    listed = "%s *é.txt\n%s *ä.txt\n%s *削除された.txt\n" % (
        md5(b"old"), md5(b"x"), md5(b""))
    for language, code_page in (("ja_JP", "cp932"), ("en_US", "cp1252")):
        if not private_locale(wine, language, "UTF-8"):
            print("[SKIP] readings: no %s.UTF-8 locale here" % language)
            continue
        decoy = "é.txt".encode().decode(code_page)  # ﾃｩ.txt, Ã©.txt
        folder = folder_in(root, "readings-" + code_page, {
            "é.txt": b"changed", decoy: b"old", "ä.txt": b"x",
            "a\ufffd.txt": b"decoy", "list.md5": listed.encode(),
            "unicode.md5": b"\xff\xfe" + ("%s *a\ud800.txt\r\n" % md5(
                b"decoy")).encode("utf-16-le", "surrogatepass")})
        os.mkdir(os.path.join(folder, "ä.txt".encode().decode(code_page)))
        locale = language + ".UTF-8"
        got = report_of(runner.drive(folder, "none", locale=locale))
        runner.check("%s: both readings, a folder, a missing name, a lone "
                     "surrogate" % code_page, got == sorted([
                         "é.txt - " + texts.MISMATCH, "ä.txt - OK",
                         "削除された.txt - " + texts.UNREADABLE,
                         "a<U+D800>.txt - " + texts.UNREADABLE, "",
                         FAILED_CAPTION]), "\n".join(got))
        # One reading only names a file: that file, and the report says so.
        os.remove(os.path.join(folder, "é.txt"))
        got = report_of(runner.drive(folder, "none", locale=locale))
        runner.check("%s: a decoy alone is named for what it is" % code_page,
                     decoy + " - OK" in got, "\n".join(got))


def case_and_links(wine, runner, root):
    """Wine's folders keep case: a.txt beside A.txt stops creation instead
    of folding both into one digest file; a Unix link at a digest file's
    name, which Wine shows as no link, is replaced, never written through."""
    folder = folder_in(root, "case", {"a.txt": b"1", "A.txt": b"2"})
    got = runner.drive(folder, "shift", "yes")
    runner.check("a.txt beside A.txt: creation stops, never done",
                 "icon: error" in got and not any(texts.DONE in g for g in got),
                 "\n".join(got))
    elsewhere = folder_in(root, "elsewhere", {"target": b"precious"})
    linked = folder_in(root, "linked", {"a.txt": b"abc"})
    os.symlink(os.path.join(elsewhere, "target"),
               os.path.join(linked, "a.txt.md5"))
    got = runner.drive(linked, "shift", "yes")
    with open(os.path.join(elsewhere, "target"), "rb") as f:
        kept = f.read()
    made = os.path.join(linked, "a.txt.md5")
    runner.check("a Unix link at a digest file's name: replaced, its target kept",
                 kept == b"precious" and not os.path.islink(made) and
                 open(made, "rb").read() == ("%s *a.txt\n" % hashlib.md5(
                     b"abc").hexdigest()).encode(), (kept, got))


def short_names(wine, runner, root):
    """A name that is another file's 8.3 short name: creation never writes
    through it, and "*.md5" does not take x.md5abc for a digest file."""
    folder = folder_in(root, "short", {"verylongname.txt.md5x": b"precious",
                                       "x.md5abc": b"not a list\n"})
    short = wine.run([wine.loader, "winepath", "-s", wine.windows_path(
        os.path.join(folder, "verylongname.txt.md5x"))], capture_output=True,
        text=True, check=False).stdout.strip().split("\\")[-1]
    alias = short.rsplit(".", 1)[0]
    runner.expect("x.md5abc is no digest file", folder, "none", "-",
                  [box("Error", "error", "ok", NOTHING)])
    with open(os.path.join(folder, alias), "wb") as f:
        f.write(b"x")
    got = runner.drive(folder, "shift", "yes")
    with open(os.path.join(folder, "verylongname.txt.md5x"), "rb") as f:
        kept = f.read()
    runner.check("creation does not write %s through the short name %s" % (
        "verylongname.txt.md5x", short), "~" in alias and kept == b"precious" and
        "icon: error" in got and not os.path.exists(os.path.join(folder, alias + ".md5")),
        (short, kept, got))


def invisible_names(wine, runner, root):
    """A record naming a file with an invisible character beside a swapped
    file of the plain name reads with the character shown, and apart from a
    name that spells its escape; names with folders read as they are."""
    hidden = "setup.exe\u034f"
    listed = (hidden, "\u202eexe.txt", "drivers\\x64\\a.sys", "x\\x86.txt",
              "<U+202E>exe.txt", "a\x1bb")
    folder = folder_in(root, "invisible", {
        "setup.exe": b"swapped", hidden: b"abc", "\u202eexe.txt": b"abc",
        "list.md5": b"\xef\xbb\xbf" + "".join(
            "%s *%s\n" % (hashlib.md5(b"abc").hexdigest(), n)
            for n in listed).encode()})
    for path in ("drivers/x64/a.sys", "x/x86.txt"):
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as f:
            f.write(b"abc")
    got = runner.drive(folder, "none")
    runner.check("invisible and bidirectional characters are shown as escapes",
                 report_of(got) == sorted(escaped(line) for line in [
                     "setup.exe<U+034F> - OK", "<U+202E>exe.txt - OK",
                     "drivers\\x64\\a.sys - OK", "x\\x86.txt - OK",
                     "<U+003C>U+202E>exe.txt - " + UNREADABLE,
                     "a<U+001B>b - " + UNREADABLE, "", FAILED_CAPTION]),
                 "\n".join(got))


def device_names(wine, runner, root):
    """Reserved device names in a list are never opened: a +file trace shows
    no open of any of them, and each reads as not found."""
    names = ["COM1", "CON.txt", "lpt\u00b9", "nul .md5", "conout$", "AUX:",
             "sub\\PRN.log"]
    folder = folder_in(root, "devices", {"list.md5": b"\xef\xbb\xbf" + "".join(
        "%s *%s\n" % ("0" * 32, n) for n in names).encode()})
    trace = []
    got = runner.drive(folder, "none", trace=trace)
    device = re.compile(r'(?i)(\\\\|L")(com1|con|lpt(\\x?00b9|\u00b9)|nul|conout\$|aux|prn)'
                        r'([. :"\\]|$)')
    opened = [line for line in trace if re.search("CreateFile|NtOpenFile", line) and
              device.search(line)]
    report = "".join(n.replace("\\", "\\\\") + " - " + UNREADABLE + "\\r\\n"
                     for n in names)
    runner.check("reserved device names: never opened, each not found",
                 got == box(FAILED_CAPTION, "error", "ok",
                            report + "\\r\\n" + FAILED_CAPTION) + ["exit: 0"] and
                 not opened, "\n".join(got + opened[:10]))


def killed_creation(wine, runner, root):
    """Creation over a folder whose digest files exist, ended with
    TerminateProcess at moments spread over the run and as soon as a
    temporary file shows: every digest file is the old one or the new one,
    at most one temporary file is left in all (each is deleted on close from
    its making to its link into place), and the next whole run removes it
    and writes every digest file."""
    old = b"0123456789abcdef0123456789abcdef *old\n"
    files = {}
    for i in range(1500):
        data = b"%d" % i
        files["k%04d.txt" % i] = data
        files["k%04d.txt.md5" % i] = old
    folder = folder_in(root, "killed", files)

    def damage():
        wrong = []
        for name, data in files.items():
            if name.endswith(".md5"):
                continue
            with open(os.path.join(folder, name + ".md5"), "rb") as f:
                held = f.read()
            new = hashlib.md5(data).hexdigest().encode() + b" *" + name.encode() + b"\n"
            if held not in (old, new):
                wrong.append((name, held))
        return wrong, [n for n in os.listdir(folder)
                       if n.startswith(".~digestbox-")]

    faults, seen = [], set()
    for kill_ms in (50, 300, 700, 1200, 2000) + ("tmp",) * 10:
        runner.drive(folder, "shift", "yes", kill_ms=kill_ms)
        wrong, strays = damage()
        if wrong or len(seen | set(strays)) > 1:
            faults.append((kill_ms, wrong[:3], strays))
        seen.update(strays)
        for name in os.listdir(folder):
            if name.endswith(".md5.md5"):
                os.remove(os.path.join(folder, name))
    got = runner.drive(folder, "shift", "yes")
    wrong, strays = damage()
    stale = [n for n in files if not n.endswith(".md5") and open(
        os.path.join(folder, n + ".md5"), "rb").read() == old]
    runner.check("creation ended by TerminateProcess 15 times, 10 of them as "
                 "a temporary file showed: every digest file old or new, %d "
                 "temporary files left, removed by the next run" % len(seen),
                 not faults and not strays and not stale and not wrong and
                 any(texts.DONE in line for line in got), (faults[:5], strays))


def kept_on_recreation(wine, runner, root):
    """Digest files made again keep what users set on them (Wine keeps the
    attributes in user.DOSATTRIB): hidden, and hidden and system, stay so; a
    read-only one stays so; in a folder where no name may be replaced or
    removed (chattr +a), each is written in place (and the temporary files
    stay until a later run may remove them)."""
    old = b"0" * 32 + b" *old\n"
    def changed(name, data=b"changed"):
        return ("%s *%s\n" % (hashlib.md5(data).hexdigest(), name)).encode()
    new = lambda n: changed(n, n.encode())
    folder = folder_in(root, "kept", {n: n.encode() for n in ("a", "b", "c")})
    attributes = {"a.md5": "0x22", "b.md5": "0x26", "c.md5": None}
    for name, value in attributes.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(old)
        if value:
            os.setxattr(os.path.join(folder, name), "user.DOSATTRIB", value.encode())

    def held():
        def dos(name):
            try:
                return int(os.getxattr(name, "user.DOSATTRIB").decode(), 16) & 0x7
            except OSError:
                return 0
        return {n: (open(os.path.join(folder, n), "rb").read(),
                     dos(os.path.join(folder, n))) for n in attributes}

    made = {n: (new(n[0]), int(v or "0", 16) & 0x7) for n, v in attributes.items()}
    # Wine shows a mode as a DACL, which would not come back whole.
    os.chmod(os.path.join(folder, "c.md5"), 0o600)
    got = runner.drive(folder, "shift", "yes")
    mode = os.stat(os.path.join(folder, "c.md5")).st_mode & 0o777
    runner.check("hidden, hidden+system digest files made again: still so; "
                 "a 0600 one written in place", held() == made and mode == 0o600 and
                 any(texts.DONE in g for g in got), (held(), oct(mode), got))
    # Wine lets root write a read-only file, as before: then it stays so.
    os.chmod(os.path.join(folder, "c.md5"), 0o444)
    os.remove(os.path.join(folder, "a"))
    os.remove(os.path.join(folder, "b"))
    with open(os.path.join(folder, "c"), "wb") as f:
        f.write(b"changed")
    got = runner.drive(folder, "shift", "yes")
    done = any(texts.DONE in g for g in got)
    runner.check("a read-only digest file: refused as it was, or made again "
                 "where root may write it, and still read-only",
                 os.stat(os.path.join(folder, "c.md5")).st_mode & 0o222 == 0 and
                 held()["c.md5"][0] == (changed("c") if done else new("c")), got)
    os.chmod(os.path.join(folder, "c.md5"), 0o644)
    with open(os.path.join(folder, "c"), "wb") as f:
        f.write(b"again")
    if wine.emulated:  # the namespace's root may not set the flag
        print("[SKIP] no name replaceable (chattr +a): the 64-bit run has it")
        return
    subprocess.run(["chattr", "+a", folder], check=True)
    try:
        got = runner.drive(folder, "shift", "yes")
    finally:
        subprocess.run(["chattr", "-a", folder], check=True)
    with open(os.path.join(folder, "c.md5"), "rb") as f:
        runner.check("no name replaceable (chattr +a): written in place",
                     f.read() == changed("c", b"again") and
                     any(texts.DONE in g for g in got), got)


def cancelled_verification(wine, runner, root):
    """A long verification: the driver finds the task dialog, reads it,
    presses Cancel and reads the report of what was checked and the
    records left."""
    folder = folder_in(root, "long")
    lines = long_verification(folder)
    got = runner.drive(folder, "none", cancel_ms=1500)
    # The counts and speed are a matter of timing: out of the transcript.
    del runner.transcript[-len(got) + 3:-len(got) + 5]
    shown = got[3] if len(got) > 4 else ""
    heading = re.search(r"1 / 3 件  (\d+)%", shown)
    bar = re.match(r"bar: (\d+)$", got[4]) if len(got) > 4 else None
    runner.check("a long run: a task dialog with the counts, a bar that agrees "
                 "with its heading, and Cancel",
                 got[:3] == ["progress", "caption: " + texts.VERIFY_TITLE,
                             "buttons: cancel"]
                 and heading is not None and bar is not None and
                 heading.group(1) == bar.group(1), got)
    # Nothing failed before the cancel: the warning icon.
    expected = box(texts.FAILED_CAPTION, "warning", "ok",
                   "\\r\\n".join(lines)) + ["exit: 0"]
    runner.check("cancelled: the report so far and the records left, a warning",
                 got[5:] == expected, got)
    shutil.rmtree(folder)


def progress_name(wine, runner, root):
    """A list from elsewhere (UTF-8, no mark) read in code page 932: the
    task dialog names the reading that opened, as the report does, never
    the code page's reading of those bytes."""
    if not private_locale(wine, "ja_JP", "UTF-8"):
        print("[SKIP] progress name: no ja_JP.UTF-8 locale here")
        return
    name = "ディスクイメージ.bin"
    folder = folder_in(root, "progress-name")
    with open(os.path.join(folder, name), "wb") as f:
        f.truncate(4 << 30)  # seconds of hashing, no disk
    with open(os.path.join(folder, "all.md5"), "wb") as f:
        f.write(b"0" * 32 + b" *" + name.encode() + b"\n")
    got = runner.drive(folder, "none", locale="ja_JP.UTF-8", cancel_ms=1500)
    del runner.transcript[-len(got):]  # the counts are a matter of timing
    shown = got[3] if len(got) > 4 else ""
    runner.check("a UTF-8 list in code page 932: the window names what opened",
                 name in shown and name.encode().decode("cp932", "replace")
                 not in shown, got)
    shutil.rmtree(folder)


CASES = [nothing_to_verify, creation_and_verification, malformed_list,
         network_names, look_alike_names, long_reports, code_page_932, mixed_locales,
         names_beyond_the_code_page, lists_from_elsewhere, short_names,
         invisible_names, device_names, unbroken_names, readings,
         case_and_links, kept_on_recreation, killed_creation,
         cancelled_verification, progress_name, beyond_4gib] + wine_names.CASES \
    + wine_desktop.CASES


if __name__ == "__main__":
    sys.exit(main())
