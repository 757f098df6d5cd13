#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every suite:
# clang-format and clang-tidy, native unit tests, the same under ASan/UBSan
# and under TSan,
# the Windows build's unit tests and end-to-end runs under Wine, the Linux
# program end to end (also under valgrind), its GTK dialogs, and the parser
# fuzzer for a bounded time.
set -uo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)
passed=0
failed=0
skipped=0
failures=()

step() {
  local name=$1
  shift
  echo
  echo "=== $name"
  "$@"
  local status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
  elif [ "$status" -eq 77 ]; then
    # A suite that cannot run here says so with automake's status: counted,
    # never as a pass.
    skipped=$((skipped + 1))
    echo "=== SKIPPED: $name"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== FAILED: $name"
  fi
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs"
}

fuzz() {
  local corpus=build/fuzz/corpus
  mkdir -p "$corpus" && cp tests/fuzz/corpus/* "$corpus"/ &&
    build/fuzz/tests/fuzz/parse_fuzzer -max_total_time="${FUZZ_SECONDS:-45}" \
      -max_len=8192 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  return "${PIPESTATUS[0]}"
}

# clang-format over the sources and suites, clang-tidy (.clang-tidy) over
# every source of src/ in the linux preset's compile database (the Win32
# backend needs Windows headers), pyflakes and a length limit over the
# Python, and the escape table against the Unicode Character Database; any
# finding fails.
lint() {
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror || return 1
  python3 -m tests.lint_python || return 1
  python3 -m tests.check_layout || return 1
  python3 scripts/escape_table.py --check || return 1
  grep -o '"file": "[^"]*/src/[^"]*"' build/linux/compile_commands.json |
    cut -d'"' -f4 | xargs -P"$jobs" -n4 clang-tidy -p build/linux --quiet 2>&1 |
    grep -v 'warnings generated'
  [ "${PIPESTATUS[2]}" -eq 0 ]
}

# The suites built over a stop whose Request wakes no wait must fail, within
# the timeout where a wait hangs: a lost wake-up is known to fail a test.
# Any other end (no program, no start) fails the step.
lost_wakeup_fails() {
  local program=build/thread-safety/tests/digestbox_lost_wakeup_tests status
  [ -x "$program" ] || return 1
  timeout 60 "$program" --gtest_brief=1 --gtest_fail_fast 2>&1 | tail -n 20
  status=${PIPESTATUS[0]}
  echo "exit status $status: 1 (a case failed) or 124 (a wait hung) expected"
  [ "$status" -eq 1 ] || [ "$status" -eq 124 ]
}

# What ./run.sh builds needs no suite's package: configured with GoogleTest
# hidden (every machine here has it), and with the dialog module and the
# Wayland key probe that scripts/install-deps.sh run provides for.
run_build_alone() {
  local dir status
  dir=$(mktemp -d)
  cmake --preset run -B "$dir" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$dir.log" 2>&1
  status=$?
  [ "$status" -eq 0 ] || tail -n 20 "$dir.log"
  grep 'not found: no' "$dir.log" && status=1
  rm -rf "$dir" "$dir.log"
  return "$status"
}

scripts/install-deps.sh test || exit 1

step "run.sh's build: the program alone, without GoogleTest" run_build_alone
step "linux: build" build linux
step "linux: unit tests" ctest --preset linux
step "lint: clang-format, clang-tidy, pyflakes" lint
step "manual: every text the program shows, and no other" \
  python3 -m tests.release.check_manual man/digestbox.1
step "linux: end to end" timeout 900 python3 -m tests.e2e.run_linux build/linux/digestbox
# As root, where /dev/fuse and loop devices exist; skipped elsewhere.
step "linux: power cuts on ext4 through a logged block device" timeout 600 \
  python3 -m tests.e2e.power_cut build/linux/digestbox
step "linux: end to end under valgrind" timeout 1200 \
  python3 -m tests.e2e.run_linux build/linux/digestbox --valgrind
# Debian's python3, which has gi and pyatspi, on a session bus of its own.
step "linux: GTK dialogs through the accessibility bus" timeout 900 \
  dbus-run-session -- /usr/bin/python3 -m tests.e2e.run_gtk build/linux/digestbox
step "linux: a GNOME Wayland session: keys through the focus probe" timeout 600 \
  python3 -m tests.e2e.run_wayland build/linux/digestbox
step "asan: build" build asan
step "asan: unit tests" ctest --preset asan
# clang's lock analysis over the suites: every shared field names its lock.
step "thread-safety: the suites built with clang -Wthread-safety -Werror" \
  build thread-safety
step "thread-safety: the stop's and the pipeline's cases fail where the stop wakes nothing" \
  lost_wakeup_fails
step "tsan: build" build tsan
# The whole unit suite, whose runs hash on several threads.
step "tsan: the unit suite, runs on several threads" \
  build/tsan/tests/digestbox_tests
step "fuzz: build" build fuzz
step "fuzz: parser" fuzz
step "win32: build" build win32
step "release: scripts/release.sh" scripts/release.sh
step "release: a second build elsewhere, later, by another user under another umask: every artifact the same" \
  scripts/rebuild-check.sh
step "release: the Windows program's resources and the zip" \
  /usr/bin/python3 -m tests.release.check_windows_release \
  build/win32-release/digestbox.exe dist/digestbox-*-win32.zip dist/digestbox-*-win32.msi
step "release: the Debian packages: lintian, install, run, purge" \
  /usr/bin/python3 -m tests.release.check_packages dist
skipped_before=$skipped
# Natively where the kernel runs 32-bit code; else through qemu-user in a
# namespace of its own (tests/e2e/qemu32.py), on the cases it names.
step "win32: unit tests and end to end under Wine, test and release builds" \
  timeout 1800 /usr/bin/python3 -m tests.e2e.run_wine build/win32 \
  build/win32-release/digestbox.exe
win32_ran=false
[ "$skipped" -eq "$skipped_before" ] && win32_ran=true
# Where 32-bit code runs natively, the way through qemu is still tried, on
# a few cases, so that it works on the day a kernel without it comes.
native32() { /usr/bin/python3 -c 'import sys; from tests.e2e import qemu32; sys.exit(not qemu32.native())'; }
if native32; then
  step "win32: the same program through qemu-user, as where the kernel runs no 32-bit code" \
    env DIGESTBOX_EMULATE32=1 timeout 900 /usr/bin/python3 -m tests.e2e.run_wine \
    build/win32 build/win32-release/digestbox.exe --emulated-smoke
fi
# The 64-bit program runs every end-to-end case where the 32-bit one could
# not run them all (skipped, or through qemu on a part); its suites always run.
win64_runs=(build/win64-release/digestbox.exe)
$win32_ran && native32 && win64_runs=(--suites)
# The same code as a 64-bit program, which runs where 32-bit code cannot.
step "win64: build" build win64
step "win64: release build" build win64-release
step "release: the 64-bit program's PE flags and subsystem" /usr/bin/python3 -m \
  tests.release.check_windows_release --pe-flags build/win64-release/digestbox.exe
step "release: the Windows installer under Wine: install, run, upgrade, uninstall" \
  timeout 900 /usr/bin/python3 -m tests.release.check_msi dist/digestbox-*-win32.msi \
  build/win32-release/digestbox.exe
step "win64: unit tests under Wine, and end to end where win32 could not run" \
  timeout 1800 /usr/bin/python3 -m tests.e2e.run_wine build/win64 \
  "${win64_runs[@]}"

echo
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "steps: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
