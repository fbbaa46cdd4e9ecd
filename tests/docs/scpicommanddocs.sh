#!/usr/bin/env bash
# The SCPI commands' check against pages that get a command wrong, one slip each: the pages' own
# entries pass, and each slip is named. Usage: scpicommanddocs.sh PROGRAM
set -euo pipefail
program=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
entries=$("$root/scripts/docs-check.sh" --scpi-entries)
judged=$("$program" server.md tx4410-server.1 <<<"$entries") \
    || { echo "the pages as they are: $judged"; exit 1; }
fail=0
# page | the entry as the page has it | as the slip writes it (empty: left out) | what is said
while IFS='|' read -r page entry slip said; do
    changed=$(awk -F'\t' -v page="$page" -v entry="$entry" -v slip="$slip" '
        $1 == page && $2 == entry { if (slip != "") print page "\t" slip; next } { print }' \
        <<<"$entries")
    [ "$changed" != "$entries" ] || { echo "no entry $page $entry to change"; fail=1; continue; }
    if verdict=$("$program" server.md tx4410-server.1 <<<"$changed"); then
        echo "passed: $page with \"$slip\" for \"$entry\""
        fail=1
    elif ! grep -qF -- "$said" <<<"$verdict"; then
        echo "$page with \"$slip\" for \"$entry\" is not said as \"$said\": $verdict"
        fail=1
    fi
done <<'SLIPS'
server.md|*TST?||server.md lacks *TST?
tx4410-server.1|STATus:PRESet||tx4410-server.1 lacks STATus:PRESet
server.md|SYSTem:ERRor:COUNt?|SYSTem:ERRor:COUNT?|"SYSTem:ERRor:COUNT?" names no command
server.md|MEASure:VDD|MEASure<n>:VDD|"MEASure<n>:VDD" names no command
server.md|MEASure<n>:CODE?|MEASure<n>:CODE|"MEASure<n>:CODE" names no command
server.md|*RST|*RST?|"*RST?" names no command
server.md|[SOURce<n>:]VOLTage:CODE|[SOURce<n>:]VOLTage[:CODE]|"[SOURce<n>:]VOLTage[:CODE]" names no command
server.md|SYSTem:ERRor[:NEXT]?|SYSTem:ERRor[:NEXT?|"SYSTem:ERRor[:NEXT?" names no command
tx4410-server.1|SYSTem:ERRor[:NEXT]?|SYSTem:ERRor]:NEXT[?|"SYSTem:ERRor]:NEXT[?" names no command
tx4410-server.1|DAC:WORD|DAC:WORD:NOW|"DAC:WORD:NOW" names no command
server.md|SYSTem:ERRor:COUNt?|SYSTem:ERRor:COUNt?[|"SYSTem:ERRor:COUNt?[" names no command
tx4410-server.1|SYSTem:ERRor:COUNt?|SYSTem:ERRor:COUNt??|"SYSTem:ERRor:COUNt??" names no command
SLIPS
[ "$fail" = 0 ] && echo "scpi command docs: every slip named"
exit "$fail"
