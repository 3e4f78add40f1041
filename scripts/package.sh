#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package (debian/) with `dpkg-buildpackage -us -uc -b`, puts the .deb
# files, the .buildinfo and the .changes in dist/, runs lintian on them and checks the
# package unpacked into a scratch root (tests/install/install_smoke.sh --deb). Exits
# non-zero on any lintian error or warning, any remark of appstreamcli validate or
# desktop-file-validate, or a missing file.
#
# The build runs in a copy of the checkout under build-deb/ ($QUENTA_DEB_BUILD_DIR), so
# dpkg-buildpackage's obj-*/ folder, debian/'s build files and the results it writes
# beside the source never land in the checkout or its parent folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${QUENTA_DEB_BUILD_DIR:-$root/build-deb}"
dist="$root/dist"
started=$SECONDS

bash "$root/scripts/setup.sh"

# The checkout as it stands: the files git tracks or would add, edits included; build
# folders and results are ignored. Outside a git checkout, everything but those.
rm -rf "$work"
source_dir="$work/quenta"
mkdir -p "$source_dir"
if git -C "$root" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' f; do
              # A tracked file deleted in the work tree is left out.
              if [ -e "$root/$f" ] || [ -L "$root/$f" ]; then printf '%s\0' "$f"; fi
          done \
        | tar -C "$root" --null -T - -cf - | tar -C "$source_dir" -xf -
else
    tar -C "$root" --exclude='./build*' --exclude=./dist --exclude='./obj-*' \
        --exclude=./.git -cf - . | tar -C "$source_dir" -xf -
fi

# A failed build leaves no older package in dist/ to be taken for its result.
mkdir -p "$dist"
rm -f "$dist"/quenta_* "$dist"/quenta-dbgsym_*

echo "== dpkg-buildpackage (in $source_dir)"
(cd "$source_dir" && dpkg-buildpackage -us -uc -b -j"$(nproc)")
built=$SECONDS

version="$(cd "$source_dir" && dpkg-parsechangelog -S Version)"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
mv "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$dist/"
changes="$dist/quenta_${version}_${arch}.changes"
deb="$dist/quenta_${version}_${arch}.deb"

echo "== lintian $changes"
# Errors and warnings fail; info tags are shown. An override needs its reason on the line
# above it in debian/quenta.lintian-overrides.
lintian --fail-on error,warning --display-info "$changes"
echo "lintian: no error, no warning"

echo "== The package, unpacked"
bash "$root/tests/install/install_smoke.sh" --deb "$deb"

echo "package: $deb"
echo "package: built in $((built - started)) s, checked in $((SECONDS - built)) s"
