"""Wine cases of names opened and written exactly, run by run_wine."""

import hashlib
import os
import re
import shutil

from tests import texts
from tests.texts import escaped
from tests.e2e.checks import files_of
from tests.e2e.wine import private_locale
from tests.e2e.wine_runner import (
    FAILED_CAPTION, NOTHING, UNREADABLE, box, folder_in, report_of)


def _folder(root, name, files):
    os.mkdir(os.path.join(root, name))
    for file_name, data in files.items():
        with open(os.path.join(root, name, file_name), "wb") as f:
            f.write(data)
    return os.path.join(root, name)


def _record(data, name):
    return ("%s *%s\n" % (hashlib.md5(data).hexdigest(), name)).encode()


def _report(got):
    text = [line[6:] for line in got if line.startswith("text: ")]
    return sorted(text[-1].split("\\r\\n")) if text else []


def _created(got):
    return "text: " + texts.DONE in got and "icon: error" not in got


def trailing_dots_and_spaces(wine, runner, root):
    """"trail." beside "trail", "sp " beside "sp": each file its own record,
    so a change to the dotted or spaced one fails; a lone "only." too."""
    files = {"trail.": b"x", "trail": b"y", "sp ": b"x", "sp": b"y"}
    folder = _folder(root, "trailing", files)
    got = runner.drive(folder, "shift", "yes")
    written = files_of(folder)
    runner.check("trailing dots and spaces: each file its own record", _created(got) and
                 all(written.get(n + ".md5") == _record(d, n) for n, d in files.items()),
                 (got, written))
    for name in ("trail.", "sp "):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"changed")
    got = runner.drive(folder, "none")
    runner.check("trailing dots and spaces: the changed files fail", _report(got) == sorted([
        "trail. - " + texts.MISMATCH, "sp  - " + texts.MISMATCH, "trail - OK", "sp - OK",
        "", texts.FAILED_CAPTION]), "\n".join(got))
    folder = _folder(root, "lone-dot", {"only.": b"z"})
    got = runner.drive(folder, "shift", "yes") + runner.drive(folder, "none")
    runner.check("a lone \"only.\": its own record, verified", _created(got) and
                 files_of(folder).get("only..md5") == _record(b"z", "only.") and
                 "only. - OK" in _report(got), got)


def both_readings_written(wine, runner, root):
    """1252: "Ã©.txt" (the UTF-8 bytes of "é.txt") beside "é.txt" verifies
    once created. 932: "é.txt" beside "ﾃｩ.txt" (its UTF-8 read in 932) stops
    creation, named."""
    for language, code_page in (("en_US", "cp1252"), ("ja_JP", "cp932")):
        if not private_locale(wine, language, "UTF-8"):
            print("[SKIP] written readings: no %s.UTF-8 locale here" % language)
            continue
        decoy = "é.txt".encode().decode(code_page)
        folder = _folder(root, "written-" + code_page, {decoy: b"A", "é.txt": b"B"})
        got = runner.drive(folder, "shift", "yes", locale=language + ".UTF-8")
        if code_page == "cp1252":
            checked = _report(runner.drive(folder, "none", locale=language + ".UTF-8"))
            runner.check("cp1252: Ã©.txt beside é.txt, created and verified", _created(got) and
                         checked == sorted([decoy + " - OK", "é.txt - OK", "", texts.OK_CAPTION]),
                         (got, checked))
        else:
            runner.check("cp932: é.txt beside ﾃｩ.txt stops, named", "icon: error" in got and
                         any(line.startswith("text: é.txt - ") for line in got) and
                         "é.txt.md5" not in files_of(folder), got)


def one_name_for_two_files(wine, runner, root):
    """Unix names "a\\xff.txt" and "a\\xfe.txt" come through Wine as one
    "a\\ufffd.txt": creation stops with the name, writing nothing."""
    folder = _folder(root, "one-name", {})
    for name in (b"a\xff.txt", b"a\xfe.txt"):
        with open(os.path.join(os.fsencode(folder), name), "wb") as f:
            f.write(name)
    got = runner.drive(folder, "shift", "yes")
    runner.check("two files under one name: stopped, named, nothing written",
                 any(line.startswith("text: a\ufffd.txt - ") for line in got) and
                 not any(n.endswith(".md5") for n in os.listdir(folder)), got)


def planted_dll(wine, runner, root):
    """A shcore.dll beside the program, which marks its folder once loaded,
    is never loaded."""
    place = _folder(root, "planted-bin", {})
    shutil.copy(runner.program, place)
    shutil.copy(os.path.join(os.path.dirname(runner.driver), "planted", "shcore.dll"), place)
    program, runner.program = runner.program, os.path.join(place, os.path.basename(runner.program))
    try:
        got = runner.drive(_folder(root, "planted", {"a.txt": b"abc"}), "shift", "yes")
    finally:
        runner.program = program
    runner.check("a shcore.dll beside the program: never loaded", _created(got) and
                 not os.path.exists(os.path.join(place, "planted-loaded")), got)


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


CASES = [trailing_dots_and_spaces, both_readings_written, one_name_for_two_files, planted_dll]
