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

import os
import sys
import time

from tests.e2e import (qemu32, wine_code_pages, wine_desktop, wine_names,
                       wine_runs)
from tests.e2e.checks import skip
from tests.e2e.wine import Wine, bits_of
from tests.e2e.wine_32bit import beyond_4gib
from tests.e2e.wine_runner import Build, Runner


# Under qemu every instruction of the 32-bit programs is emulated, some ten
# times slower: the unit cases that assert a time are left out, and so are
# the end-to-end cases that add nothing 32-bit code could get wrong beside
# those that stay (the seam's opens, names and metadata, the boxes and the
# progress window, the cut report, a file past 4 GiB); the 64-bit program runs
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
CASES = [
    wine_runs.nothing_to_verify, wine_runs.creation_and_verification,
    wine_runs.malformed_list, wine_code_pages.network_names,
    wine_code_pages.look_alike_names, wine_runs.long_reports,
    wine_code_pages.code_page_932, wine_code_pages.mixed_locales,
    wine_code_pages.names_beyond_the_code_page,
    wine_code_pages.lists_from_elsewhere, wine_names.short_names,
    wine_names.invisible_names, wine_names.device_names,
    wine_code_pages.unbroken_names, wine_names.readings,
    wine_names.case_and_links, wine_runs.kept_on_recreation,
    wine_runs.killed_creation, wine_runs.cancelled_verification,
    wine_runs.progress_name, beyond_4gib,
] + wine_names.CASES + wine_desktop.CASES


if __name__ == "__main__":
    sys.exit(main())
