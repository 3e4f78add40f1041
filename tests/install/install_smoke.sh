#!/usr/bin/env bash
# Installs the build into a scratch prefix and starts the installed program: it must
# find its template in share/quenta, make the user's database from it and show its
# window. Then packages the same tree as a .deb and checks what the package holds.
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/prefix" > /dev/null
for f in bin/quenta share/quenta/Tovalin.db share/applications/quenta.desktop \
         share/icons/hicolor/scalable/apps/quenta.svg; do
    [ -e "$scratch/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

mkdir -p "$scratch/documents"
QUENTA_DOCUMENTS_DIR="$scratch/documents" XDG_CONFIG_HOME="$scratch/config" \
    QT_QPA_PLATFORM=offscreen timeout 60 "$scratch/prefix/bin/quenta" --quit-when-shown
# The installed program also runs its commands, with no display at all.
[ "$(env -u DISPLAY -u QT_QPA_PLATFORM QUENTA_DOCUMENTS_DIR="$scratch/documents" \
      XDG_CONFIG_HOME="$scratch/config" "$scratch/prefix/bin/quenta" --check)" = ok ]
cmp "$scratch/documents/Tovalin.db" "$scratch/prefix/share/quenta/Tovalin.db"

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" > /dev/null)
deb="$(ls "$scratch"/quenta_*.deb)"
contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/quenta ./usr/share/quenta/Tovalin.db ./usr/share/applications/quenta.desktop; do
    grep -q " $f\$" <<< "$contents" || { echo "not in the package: $f"; exit 1; }
done
depends="$(dpkg-deb -f "$deb" Depends)"
for p in libqt6widgets6 libqt6printsupport6 libsqlite3-0 libicu72 fonts-noto-cjk; do
    grep -q "$p" <<< "$depends" || { echo "missing dependency: $p"; exit 1; }
done
echo "installed program started; package holds program, template and launcher"
