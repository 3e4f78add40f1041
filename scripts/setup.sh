#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Quenta needs to build, test and run, and nothing
# else. Safe to run again: it asks dpkg first and only calls apt-get when
# something is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev
    libgl-dev
    libsqlite3-dev sqlite3
    libicu-dev
    libxlsxwriter-dev zlib1g-dev libzip-dev unzip
    libqpdf-dev
    # The code on every printed receipt (a QR code, libqrencode), and the reader its tests
    # scan the printed page with (zbarimg).
    libqrencode-dev zbar-tools
    # The Chinese font, and Qt's own dialogs in Chinese: qtbase_zh_CN.qm, which the
    # program loads at start (Startup::installTranslations).
    fonts-noto-cjk qt6-translations-l10n
    poppler-utils
    clang libclang-rt-14-dev
    # LLVM's linker, which links the tests in a fifth of the time of the default one.
    lld
    tzdata
    xvfb xauth
    # The man page and the icons made at build time, the Debian package and its checks
    # (scripts/package.sh). The bar charts: qt6-charts-dev, whose CMake package needs Qt
    # OpenGL's (libqt6opengl6-dev).
    help2man librsvg2-bin
    debhelper dpkg-dev fakeroot lintian
    appstream desktop-file-utils
    qt6-charts-dev libqt6opengl6-dev
    # A print system for the test that prints a receipt through a queue as a user does
    # (tests/printing/tst_printsystem.cpp): the test runs a cupsd of its own with a
    # cups-pdf queue; no system service is needed.
    cups cups-client cups-bsd printer-driver-cups-pdf
    # The shared receipt book on a PostgreSQL server: libpq to build, and a server for the
    # tests, which start one of their own in a scratch folder (initdb, pg_ctl); the
    # system's own cluster is not used.
    libpq-dev postgresql
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
else
    echo "setup: every package is already installed"
fi
