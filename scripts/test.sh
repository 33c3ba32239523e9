#!/usr/bin/env bash
# Sets up the machine, then builds and runs the whole test suite twice:
#   build-test       strict build, warnings are errors
#   build-test-asan  AddressSanitizer + UndefinedBehaviorSanitizer (+ LeakSanitizer
#                    where the machine allows it); any finding fails the run
# Usage: scripts/test.sh [ctest arguments, e.g. -R tst_shell]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

jobs="${CORVISTA_JOBS:-$(nproc)}"

build_and_test() {
    local dir="$1"
    shift
    echo "== $(basename "$dir"): configure and build"
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVISTA_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== $(basename "$dir"): run the tests"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
}

# LeakSanitizer needs ptrace, which some containers forbid; then it aborts
# every process. Probe it once and say plainly when leaks go unchecked.
leak_checks_work() {
    local probe
    probe="$(mktemp -d)"
    printf '#include <cstdlib>\nint main() { static void *p; p = std::malloc(7); p = nullptr; return 0; }\n' \
        >"$probe/leak.cpp"
    local verdict=1 report=""
    if c++ -fsanitize=address "$probe/leak.cpp" -o "$probe/leak" 2>/dev/null; then
        # The probe exits non-zero exactly when it works: keep its report only.
        report="$(ASAN_OPTIONS=detect_leaks=1 "$probe/leak" 2>&1 || true)"
    fi
    if grep -q 'LeakSanitizer: detected memory leaks' <<<"$report"; then
        verdict=0
    fi
    rm -rf "$probe"
    return $verdict
}

ctest_args=("$@")

build_and_test "$root/build-test"

detect_leaks=1
if ! leak_checks_work; then
    detect_leaks=0
    echo "test.sh: LeakSanitizer cannot run on this machine (no ptrace); leaks are not checked"
fi
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=$detect_leaks:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
build_and_test "$root/build-test-asan" -DCORVISTA_SANITIZE=ON -DCORVISTA_BUILD_BENCH=OFF

echo "test.sh: all tests passed in both builds"
