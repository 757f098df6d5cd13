#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every suite:
# native unit tests, the same under ASan/UBSan, the Windows build's unit
# tests and end-to-end runs under Wine, the Linux program end to end (also
# under valgrind), and the parser fuzzer for a bounded time.
set -uo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)
passed=0
failed=0
failures=()

step() {
  local name=$1
  shift
  echo
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== FAILED: $name"
  fi
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs"
}

locales() {
  # A non-UTF-8 locale for the code-page tests, where the system has sources.
  locale -a 2>/dev/null | grep -qi '^ja_JP.eucjp$' ||
    localedef -i ja_JP -f EUC-JP ja_JP.EUC-JP 2>/dev/null || true
  locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' ||
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null || true
}

fuzz() {
  local corpus=build/fuzz/corpus
  mkdir -p "$corpus" && cp tests/fuzz/corpus/* "$corpus"/ &&
    build/fuzz/tests/fuzz/parse_fuzzer -max_total_time="${FUZZ_SECONDS:-45}" \
      -max_len=8192 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
  return "${PIPESTATUS[0]}"
}

scripts/install-deps.sh test || exit 1
locales

step "linux: build" build linux
step "linux: unit tests" ctest --preset linux
step "linux: end to end" timeout 900 python3 tests/e2e/run_linux.py build/linux/digestbox
step "linux: end to end under valgrind" timeout 1200 \
  python3 tests/e2e/run_linux.py build/linux/digestbox --valgrind
step "asan: build" build asan
step "asan: unit tests" ctest --preset asan
step "fuzz: build" build fuzz
step "fuzz: parser" fuzz
step "win32: build" build win32
step "win32: unit tests and end to end under Wine" timeout 1800 \
  python3 tests/e2e/run_wine.py build/win32

echo
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
