"""The lint step's Python half: pyflakes over every Python file the
repository tracks (the suites, bench/run, the scripts, the Nautilus
extension), and no function longer than 80 lines: a longer one is a list of
cases that wants names; and no source or test file (C++, C, Python, shell,
a Python script without an extension) longer than 300 lines: a longer one
covers more than one thing. Exits non-zero on any finding.

    python3 -m tests.lint_python    (from the repository)"""

import ast
import os
import subprocess
import sys

LONGEST = 80
LONGEST_FILE = 300
SOURCES = (".cpp", ".h", ".c", ".py", ".sh")


def tracked_files():
    tracked = subprocess.run(["git", "ls-files"], capture_output=True, text=True,
                             check=True).stdout.split("\n")
    return [path for path in tracked if path and os.path.isfile(path)]


def python_files():
    found = []
    for path in tracked_files():
        if path.endswith(".py"):
            found.append(path)
            continue
        try:
            with open(path, "rb") as f:
                first = f.readline()
        except OSError:
            continue
        if first.startswith(b"#!") and b"python" in first:
            found.append(path)
    return found


def long_functions(path):
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            length = node.end_lineno - node.lineno + 1
            if length > LONGEST:
                yield "%s:%d: %s is %d lines (at most %d)" % (
                    path, node.lineno, node.name, length, LONGEST)


def long_files():
    scripts = set(python_files())
    for path in tracked_files():
        if path.endswith(SOURCES) or path in scripts:
            with open(path, "rb") as f:
                length = f.read().count(b"\n")
            if length > LONGEST_FILE:
                yield "%s: %d lines (at most %d)" % (path, length, LONGEST_FILE)


def main():
    files = python_files()
    flakes = subprocess.run(["pyflakes3"] + files).returncode
    findings = [line for path in files for line in long_functions(path)]
    findings += list(long_files())
    for line in findings:
        print(line)
    return 1 if flakes or findings else 0


if __name__ == "__main__":
    sys.exit(main())
