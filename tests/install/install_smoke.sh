#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed program and what comes with it.
#   install_smoke.sh BUILD_DIR      `cmake --install` of BUILD_DIR into a scratch root
#                                   (prefix /usr); ctest runs this
#   install_smoke.sh --deb FILE     the Debian package FILE, unpacked into a scratch root;
#                                   scripts/package.sh runs this
# Either way the installed program must start (the window, offscreen), run its commands
# with no display at all and find its template; the launcher, the AppStream metainfo,
# the icons, the man page and the licence must be where Debian puts them, under one
# name, and pass desktop-file-validate and appstreamcli validate without a remark.
set -euo pipefail

app_id=io.github.quenta.quenta
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
fail() { echo "install_smoke: $*" >&2; exit 1; }

if [ "${1:-}" = --deb ]; then
    kind=deb
    deb="$(realpath "$2")"
    dpkg-deb -x "$deb" "$root"
    # What the package says of itself.
    [ "$(dpkg-deb -f "$deb" Package)" = quenta ] || fail "not the quenta package: $deb"
    depends="$(dpkg-deb -f "$deb" Depends)"
    for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libqt6svg6 \
             libsqlite3-0 libicu72 libqrencode4 fonts-noto-cjk qt6-translations-l10n; do
        grep -Eq "(^|, )$p( |,|$)" <<< "$depends" || fail "missing dependency $p in: $depends"
    done
    listing="$(dpkg-deb -c "$deb")"
    grep -q ' ./usr/bin/quenta$' <<< "$listing" || fail "the package lists no /usr/bin/quenta"
    if grep -Eq ' \./(build|obj-|debian/|tmp/|home/|root/)' <<< "$listing"; then
        fail "build files in the package"
    fi
    upstream_version="$(dpkg-deb -f "$deb" Version)"
    upstream_version="${upstream_version%-*}"
else
    kind=cmake
    build="$1"
    DESTDIR="$root" cmake --install "$build" --prefix /usr > /dev/null
    upstream_version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
fi
usr="$root/usr"

# Everything in its place, under the one name.
expected=(bin/quenta share/quenta/Tovalin.db
          share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml
          share/icons/hicolor/scalable/apps/$app_id.svg share/doc/quenta/README.md)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=(share/icons/hicolor/${size}x${size}/apps/$app_id.png)
done
if [ "$kind" = deb ]; then
    # dh_compress compresses the man page; the sidebar opens README.md by that name.
    expected+=(share/man/man1/quenta.1.gz share/doc/quenta/copyright)
else
    expected+=(share/man/man1/quenta.1 share/doc/quenta/LICENSE)
fi
for f in "${expected[@]}"; do
    [ -f "$usr/$f" ] || fail "not installed: /usr/$f"
done
[ "$kind" = cmake ] || [ ! -e "$usr/share/doc/quenta/LICENSE" ] \
    || fail "the package carries LICENSE beside its copyright file"
if [ "$kind" = deb ]; then
    grep -q '^License: GPL-3.0-or-later' "$usr/share/doc/quenta/copyright" \
        || fail "the copyright file does not give GPL-3.0-or-later"
else
    grep -q 'GNU GENERAL PUBLIC LICENSE' "$usr/share/doc/quenta/LICENSE" \
        && grep -q 'Version 3, 29 June 2007' "$usr/share/doc/quenta/LICENSE" \
        || fail "LICENSE is not the GPL version 3"
fi

# Each PNG is a PNG of its size (width and height are bytes 16-23 of the file).
for size in "${sizes[@]}"; do
    png="$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    read -r -a header <<< "$(od -An -tu1 -w24 -N24 "$png")"
    [ "${header[1]} ${header[2]} ${header[3]}" = "80 78 71" ] || fail "not a PNG: $png"
    width=$(( (header[18] << 8) | header[19] ))
    height=$(( (header[22] << 8) | header[23] ))
    [ "$width $height" = "$size $size" ] || fail "$png is ${width}x${height}, not ${size}x${size}"
done

# The launcher and the metainfo: valid without a remark, and naming each other and the icon.
desktop="$usr/share/applications/$app_id.desktop"
metainfo="$usr/share/metainfo/$app_id.metainfo.xml"
out="$(desktop-file-validate "$desktop" 2>&1)" && [ -z "$out" ] \
    || fail "desktop-file-validate: $out"
out="$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1)" \
    && ! grep -Eq '^[EWIP]: ' <<< "$out" || fail "appstreamcli validate: $out"
grep -qx "Icon=$app_id" "$desktop" || fail "the launcher's icon is not $app_id"
grep -qx "Exec=quenta" "$desktop" || fail "the launcher does not start quenta"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the metainfo does not launch $app_id.desktop"
grep -q '<binary>quenta</binary>' "$metainfo" || fail "the metainfo provides no binary quenta"
newest_release="$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)"
[ "$newest_release" = "$upstream_version" ] \
    || fail "the metainfo's newest release is $newest_release, the program $upstream_version"

# The installed program: the window (offscreen), then its commands without any display.
program="$usr/bin/quenta"
mkdir -p "$scratch/documents"
export QUENTA_DOCUMENTS_DIR="$scratch/documents" XDG_CONFIG_HOME="$scratch/config"
QT_QPA_PLATFORM=offscreen timeout 60 "$program" --quit-when-shown
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --check)" = ok ] \
    || fail "quenta --check did not answer ok"
cmp "$scratch/documents/Tovalin.db" "$usr/share/quenta/Tovalin.db" \
    || fail "the book is not a copy of the installed template"
version="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version)"
[ "$version" = "Quenta $upstream_version" ] \
    || fail "quenta --version says '$version', the package is $upstream_version"

# The man page names every option that --help lists.
help="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help)"
manpage="$usr/share/man/man1/quenta.1"
if [ "$kind" = deb ]; then
    man_text="$(gzip -dc "$manpage.gz")"
else
    man_text="$(cat "$manpage")"
fi
grep -q '^\.TH QUENTA "1"' <<< "$man_text" || fail "quenta.1 is no section 1 man page"
options="$(grep -oE '^ +(-[a-zA-Z?], )?--[a-z][a-z-]*' <<< "$help" | grep -oE -- '--[a-z-]+')"
[ -n "$options" ] || fail "no options found in quenta --help"
for option in $options; do
    grep -qF -- "${option//-/\\-}" <<< "$man_text" || fail "quenta.1 does not name $option"
done

echo "install_smoke ($kind): program, template, launcher, metainfo, icons, man page and licence in place; the installed program runs"
