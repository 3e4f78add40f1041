#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Quenta and starts it. Without a display (a server,
# a container) it starts on a virtual one, so the command never fails for want of it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
app="${QUENTA_BUILD_DIR:-$root/build}/bin/quenta"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$app" "$@"
fi
echo "run: no display found; starting Quenta on a virtual display (xvfb-run)."
exec xvfb-run -a -s "-screen 0 1400x900x24" "$app" "$@"
