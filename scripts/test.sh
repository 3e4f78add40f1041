#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Quenta and runs every test headless:
#   1. the suite on the normal build (build/);
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-sanitize/);
#   3. short libFuzzer runs of the amount conversion, the SQL quoting and the receipt row
#      mapping, built with clang (build-fuzz/);
#   4. the Debian package, built in build-deb/ into dist/ and checked (lintian, the
#      metainfo, the launcher, the files it installs) by scripts/package.sh.
# QUENTA_QUICK_TEST=1 runs only the first, for a quick check while working.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

# Each stage says how long it took: the whole command must stay well under CI's limit.
# QUENTA_CTEST_EXCLUDE: tests the stage leaves out (a regular expression for ctest -E).
run_suite() {
    local build="$1" started=$SECONDS
    shift
    QUENTA_BUILD_DIR="$build" bash "$root/scripts/build.sh" "$@"
    echo "build: $((SECONDS - started)) s"
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" \
        ${QUENTA_CTEST_EXCLUDE:+-E "$QUENTA_CTEST_EXCLUDE"})
    echo "build and suite: $((SECONDS - started)) s (total so far $SECONDS s)"
}

run_suite "${QUENTA_BUILD_DIR:-$root/build}"
if [ "${QUENTA_QUICK_TEST:-0}" = 1 ]; then
    exit 0
fi

# Qt and fontconfig keep caches for the life of the process, which LeakSanitizer would
# report at exit; memory errors and undefined behaviour stop the test at once.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer =="
# The tests that run again on a shared book do so in the first stage; here only the
# connection's and the shared book's own tests meet a server, to keep the whole command
# within CI's time. For the same reason the three slowest under the sanitizers run in the
# first stage only: the commands' (a hundred starts of the program, each instrumented; the
# code they reach is run here by the other suites), the search's and the lists'.
QUENTA_CTEST_EXCLUDE="_server$|^tst_commandline$|^tst_receiptsearch$|^tst_receiptlist$" \
    run_suite "$root/build-sanitize" -DQUENTA_SANITIZE=ON

echo "== Fuzz smoke runs =="
CC=clang CXX=clang++ run_suite "$root/build-fuzz" -DQUENTA_FUZZ=ON

echo "== The Debian package =="
bash "$root/scripts/package.sh"
