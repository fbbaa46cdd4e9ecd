#!/usr/bin/env bash
# Checks a program's manual page as a reader sees it on an 80-column terminal: man renders it
# without a warning; no line is wider than the terminal; no scdoc markup is left in the text;
# every line of the source's literal blocks comes out whole, on a line of its own; SEE ALSO names
# a page of the installed docs that exists; every option the program's --help names is in it.
# Usage: manpage.sh PROGRAM PAGE SOURCE
set -euo pipefail
export LC_ALL=C.UTF-8 # as a reader's terminal: man's own hyphens, widths counted in characters
program=$1 page=$2 source=$3
docs=$(cd "$(dirname "$0")/../../docs" && pwd)
fail=0
problem() { echo "$(basename "$page"): $*"; fail=1; }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || problem "man warns: $warnings"
text=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b | expand)

while IFS= read -r line; do
    problem "wider than 80 columns: $line"
done < <(grep -E '^.{81}' <<<"$text" || true)
# Emphasis scdoc did not take (inside a word, or unbalanced) shows as the marks themselves.
while IFS= read -r line; do
    problem "scdoc markup left: $line"
done < <(grep -E '_[[:alnum:]]+_([^[:alnum:]_]|$)|\*[[:alnum:]][^* ]*\*' <<<"$text" || true)

# A word split at a line's end, by hyphenation or at a hyphen of its own (--settle-|ms).
while IFS= read -r line; do
    problem "a word hyphenated at the line's end: $line"
done < <(grep -E '[[:alpha:]](‐|-)$' <<<"$text" || true)
# Each literal line must be a rendered line of its own: never run into the next, never wrapped.
rendered=$(sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//' <<<"$text")
while IFS= read -r line; do
    [ -z "$line" ] && continue
    grep -qxF -- "$line" <<<"$rendered" || problem "literal line not whole: $line"
done < <(awk '/^```/ { inside = !inside; next } inside { sub(/^[ \t]+/, ""); sub(/[ \t]+$/, ""); gsub(/\\\\/, "\\"); print }' "$source")
# Indented lines in EXAMPLES are paragraphs that man fills and wraps, not commands.
awk '/^# /{ examples = ($0 == "# EXAMPLES") } examples && /^\t/ { exit 1 }' "$source" \
    || problem "an example indented with a tab, not in a literal block"

seealso=$(sed -n '/^SEE ALSO/,$p' <<<"$text")
named=$(grep -oE '/usr/share/doc/tx4410/docs/[[:alnum:]-]+\.md' <<<"$seealso" || true)
[ -n "$named" ] || problem "SEE ALSO names no page of /usr/share/doc/tx4410/docs"
for doc in $named; do
    [ -f "$docs/$(basename "$doc")" ] || problem "SEE ALSO names $doc, which docs/ does not have"
done

options=$(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' \
    | grep -oE -- '--?[[:alpha:]][[:alnum:]-]*' | sort -u)
[ -n "$options" ] || problem "$program --help names no option"
wide=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
for option in $options; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|$)" <<<"$wide" \
        || problem "$option is in $program --help but not in the page"
done
[ "$fail" = 0 ] && echo "$(basename "$page"): $(wc -w <<<"$options") options, renders whole at 80 columns"
exit "$fail"
