"""Wine cases of names through code pages, run by run_wine: lists in other
code pages and from elsewhere, names a code page cannot hold, network
places and look-alikes."""

import hashlib
import os

from tests import texts
from tests.e2e.wine import private_locale
from tests.e2e.wine_runner import (
    FAILED_CAPTION, OK_CAPTION, UNREADABLE, box, folder_in, report_of)


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
