"""Wine cases of names opened and written exactly, run by run_wine."""

import hashlib
import os
import shutil

from tests import texts
from tests.e2e.checks import files_of
from tests.e2e.wine import private_locale


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


CASES = [trailing_dots_and_spaces, both_readings_written, one_name_for_two_files, planted_dll]
