#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes quenta(1): help2man runs the built program's --help and --version and adds the
# hand-written sections of quenta.h2m. Chinese runs have no spaces, so a break point
# (\:) follows each Chinese character and full-width mark, except where a line must not
# break, and lines are left ragged; groff could not fill those lines otherwise.
#   make-manpage.sh QUENTA_BINARY INCLUDE_FILE OUTPUT
set -eu
program="$1"
include="$2"
output="$3"

# --help needs no display; help2man runs it in the locale it is given, and a UTF-8 one
# keeps the Chinese from turning into "?".
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
    help2man --locale=C.UTF-8 --no-info --section=1 --include="$include" --output="$output.tmp" "$program"
perl -CSD -pe '
    BEGIN {
        $cjk = qr/[\p{Han}\x{3000}-\x{303F}\x{FF01}-\x{FF60}]/;
        # No line starts with a closing mark, none ends with an opening one.
        $opening = qr/[\x{3008}\x{300A}\x{300C}\x{300E}\x{3010}\x{3014}\x{FF08}]/;
        $closing = qr/[\x{2019}\x{201D}\x{3001}\x{3002}\x{3009}\x{300B}\x{300D}\x{300F}\x{3011}\x{3015}\x{FF01}\x{FF09}\x{FF0C}\x{FF0E}\x{FF1A}\x{FF1B}\x{FF1F})\],.;:!?]/;
    }
    s/((?!$opening)$cjk)(?=\S)(?!$closing)/$1\\:/g unless /^\.\\"/;
    # Lines without spaces cannot be stretched to the right margin: none is.
    $_ .= ".ad l\n" if /^\.TH /;
' "$output.tmp" > "$output"
rm -f "$output.tmp"
