#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Quenta into build/ (or $QUENTA_BUILD_DIR). Safe to run again:
# only what changed is rebuilt. Further CMake options (sanitizers, the fuzz build) come
# as arguments and apply when the folder is first configured.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUENTA_BUILD_DIR:-$root/build}"

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$build" -j "$(nproc)"
