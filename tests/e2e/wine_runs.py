"""Wine cases of whole runs, run by run_wine: creation and verification with
their boxes, long reports, and runs ended or cancelled part way."""

import hashlib
import os
import re
import shutil
import subprocess

from tests import texts
from tests.e2e.checks import files_of, long_verification
from tests.e2e.wine import private_locale
from tests.e2e.wine_runner import (
    DONE, FAILED_CAPTION, MD5_QUESTION, MISMATCH, NOTHING, OK_CAPTION,
    QUESTION_CAPTION, SHA1_QUESTION, UNREADABLE, box, folder_in)


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
    """A long verification: the driver finds the progress window, reads it,
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
    runner.check("a long run: a progress window with the counts, a bar that agrees "
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
    progress window names the reading that opened, as the report does, never
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
