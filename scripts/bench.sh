#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Quenta (build/ or $QUENTA_BUILD_DIR, through scripts/build.sh) and runs every
# benchmark in order. Figures are only worth quoting from a quiet machine: nothing else
# compiling, and the best of a few runs of this script.
#   QUENTA_BUILD_DIR=build-bench bash scripts/bench.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUENTA_BUILD_DIR:-$root/build}"
export QUENTA_BUILD_DIR="$build"

bash "$root/scripts/build.sh"

status=0
for bench in bench_startup bench_stores bench_list bench_amount bench_print bench_export \
    bench_statistics; do
    echo "== $bench"
    "$build/bin/$bench" || status=1
    echo
done
# Each benchmark exits with 2 on a missed target and 1 when it could not run.
exit "$status"
