"""The notes checked against the tree: docs/design.md's layout has a line
for every folder under src/, every file or name a line gives is in that
folder, and the benchmark's cases are the ones bench/run takes. Exits
non-zero on any finding.

    python3 -m tests.check_layout    (from the repository)"""

import ast
import os
import re
import sys

DESIGN = "docs/design.md"
# A line of the layout: its folders (one or more, each ending in "/"),
# then what they hold.
ENTRY = re.compile(r"^( {4}| {6})((?:[\w.-]+/(?:[\w.-]+/)* ?)+?)\s+(\S.*)$")
# What a line names: a file, or a name in CamelCase (two capitals at least).
NAMED = re.compile(r"\b[\w-]+\.(?:cpp|h|inc)\b|\b[A-Z][a-z0-9]+[A-Z]\w*\b")
ONLY = re.compile(r"--only ([\w|-]+(?:\|\s*[\w|-]+)*)\]")


def section(text, title):
    lines = text.split("\n")
    start = lines.index("## " + title) + 1
    end = next((i for i in range(start, len(lines))
                if lines[i].startswith("## ")), len(lines))
    return lines[start:end]


def layout_entries(lines):
    """(folders, description) per line of the layout's block, the folders
    of an indented line under the last top-level one."""
    entries = []
    parent = ""
    for line in lines:
        match = ENTRY.match(line)
        if match:
            folders = match.group(2).split()
            if len(match.group(1)) == 4:
                parent = folders[0]
                entries.append(([f for f in folders], match.group(3)))
            else:
                entries.append(([parent + f for f in folders], match.group(3)))
        elif entries and line.startswith(" " * 10) and line.strip():
            folders, words = entries[-1]
            entries[-1] = (folders, words + " " + line.strip())
    return entries


def source_folders():
    found = set()
    for root, _, files in os.walk("src"):
        if any(not name.startswith(".") for name in files):
            found.add(root.replace(os.sep, "/") + "/")
    return found


def folder_names(folder):
    """The files directly in `folder` and every word their text holds."""
    files = [name for name in os.listdir(folder)
             if os.path.isfile(os.path.join(folder, name))]
    words = set(files)
    for name in files:
        with open(os.path.join(folder, name), encoding="utf-8",
                  errors="replace") as f:
            words.update(re.findall(r"\w+", f.read()))
    return words


def layout_findings(text):
    entries = [(folders, words) for folders, words in
               layout_entries(section(text, "Layout"))
               if folders[0].startswith("src/")]
    described = {folder for folders, _ in entries for folder in folders}
    for folder in sorted(source_folders() - described):
        yield "%s: no line for %s" % (DESIGN, folder)
    for folders, words in entries:
        there = [f for f in folders if os.path.isdir(f)]
        if len(there) < len(folders):
            yield "%s: %s: no such folder" % (DESIGN, " ".join(folders))
            continue
        known = set().union(*(folder_names(f) for f in there))
        for name in NAMED.findall(words):
            if name not in known:
                yield "%s: %s names %s, which is not there" % (
                    DESIGN, " ".join(folders), name)


def bench_cases():
    with open("bench/run", encoding="utf-8") as f:
        tree = ast.parse(f.read())
    for node in ast.walk(tree):
        if (isinstance(node, ast.Call) and node.args and
                isinstance(node.args[0], ast.Constant) and
                node.args[0].value == "--only"):
            for keyword in node.keywords:
                if keyword.arg == "choices":
                    return [item.value for item in keyword.value.elts]
    return []


def bench_findings(text):
    match = ONLY.search("\n".join(section(text, "Benchmark")))
    named = re.split(r"\|\s*", match.group(1)) if match else []
    if sorted(named) != sorted(bench_cases()):
        yield "%s: the benchmark's --only names %s; bench/run takes %s" % (
            DESIGN, "|".join(named), "|".join(bench_cases()))


def main():
    with open(DESIGN, encoding="utf-8") as f:
        text = f.read()
    findings = list(layout_findings(text)) + list(bench_findings(text))
    for line in findings:
        print(line)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
