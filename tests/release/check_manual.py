"""The manual page against tests/texts.py, both ways: every text a user
meets is quoted in it, and every Japanese text it quotes is one of them, so
that neither drifts from the program unseen. A quote is a bold span (.B,
the bold half of .BR/.RB, \\fB...\\fR) or a no-fill block (.nf to .fi); a
number in a text stands as a capital letter (N) or as digits (commas and
points included). Japanese
outside a quote is a finding too. Ends with 'N passed, N failed'.

    python3 -m tests.release.check_manual [man/digestbox.1]  (from the repository)"""

import os
import re
import sys

from tests import texts
from tests.e2e.checks import Checks

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
JAPANESE = re.compile("[\u3000-\u30ff\u4e00-\u9fff\uff00-\uffef]")
ESCAPES = [("\\-", "-"), ("\\e", "\\"), ("\\ ", " "), ("\\&", ""), ("\\(lq", "\u201c"),
           ("\\(rq", "\u201d"), ("\\(->", "\u2192"), ("\\(bu", "\u2022")]
BOLD_HALF = {".B": None, ".BR": 0, ".RB": 1, ".BI": 0, ".IB": 1}


def unescape(text):
    for escape, char in ESCAPES:
        text = text.replace(escape, char)
    return text


def arguments(line):
    return [a if q == "" else q
            for q, a in re.findall(r'"([^"]*)"|(\S+)', line)]


def quotes_of(source):
    """The manual's quotes, and the Japanese that stands outside them."""
    quotes, loose, block = [], [], None
    for line in source.split("\n"):
        if block is not None:
            if line.startswith(".fi"):
                quotes.append("\n".join(block))
                block = None
            else:
                block.append(unescape(line))
            continue
        if line.startswith(".nf"):
            block = []
            continue
        if line.startswith('.\\"'):
            continue
        macro, _, rest = line.partition(" ")
        if macro in BOLD_HALF:
            words = arguments(rest)
            half = BOLD_HALF[macro]
            bold = [" ".join(words)] if half is None else words[half::2]
            quotes += [unescape(w) for w in bold]
            line = " ".join(words if half is None else words[1 - half::2])
            if half is None:
                line = ""
        for span in re.findall(r"\\fB(.*?)\\f[RP]", line):
            quotes.append(unescape(span))
        line = re.sub(r"\\fB.*?\\f[RP]", "", line)
        loose += JAPANESE.findall(line)
    return quotes, loose


def system_texts():
    """Every text of tests/texts.py as the terminal and GTK show it, by
    name."""
    found = {}
    for name, value in vars(texts).items():
        if isinstance(value, tuple):
            found.update(("%s %s" % (name, v), texts.shown(v)) for v in value)
        elif name.isupper():
            found[name] = texts.shown(value)
    return found


def pattern(text):
    """A text whose numbers stand as N or as digits in the manual."""
    parts = re.split(r"%[ds]", text)
    return re.compile(r"(?:[A-Z]|[0-9.,]+)".join(re.escape(p) for p in parts) + r"\Z")


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "man", "digestbox.1")
    with open(path, encoding="utf-8") as f:
        quotes, loose = quotes_of(f.read())
    known = {name: pattern(text) for name, text in system_texts().items()}
    checks = Checks()
    missing = [name for name, p in known.items() if not any(p.match(q) for q in quotes)]
    checks.check("every text a user meets is quoted in the manual", not missing, missing)
    strange = [q for q in quotes if JAPANESE.search(q) and
               not any(p.match(q) for p in known.values())]
    checks.check("every Japanese text the manual quotes is the program's", not strange,
                 strange)
    checks.check("no Japanese outside a quote", not loose, "".join(loose))
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
