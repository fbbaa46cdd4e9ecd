#!/usr/bin/env bash
# Checks a program's manual page: man renders it without a warning, and every option the
# program's --help names is in it.
# Usage: manpage.sh PROGRAM PAGE
set -euo pipefail
program=$1 page=$2
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man warns about $page:"; echo "$warnings"; exit 1; }
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
options=$(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' \
    | grep -oE -- '--?[[:alpha:]][[:alnum:]-]*' | sort -u)
[ -n "$options" ] || { echo "$program --help names no option"; exit 1; }
missing=0
for option in $options; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|$)" <<<"$text" \
        || { echo "$option is in $program --help but not in its manual page"; missing=1; }
done
[ "$missing" = 0 ] && echo "$(basename "$page"): $(wc -w <<<"$options") options, no warning"
exit "$missing"
