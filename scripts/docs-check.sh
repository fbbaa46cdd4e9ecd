#!/usr/bin/env bash
# Keeps the docs true to the programs.
#   docs-check.sh --status-table PROGRAM   docs/statuses.md holds exactly the table PROGRAM prints
#   docs-check.sh --scpi-commands PROGRAM  every SCPI command of the table is in server.md's
#                                          table of commands and in the COMMANDS of
#                                          tx4410-server(1), and each entry there names one;
#                                          PROGRAM (tx4410_scpi_command_docs) judges them
#   docs-check.sh --scpi-entries           prints those entries, "PAGE<TAB>HEADER" a line
#   docs-check.sh --commands BIN_DIR       runs every shell block of README.md and docs/*.md that
#                                          follows a line "<!-- runnable -->", as a user who
#                                          copies it would: with BIN_DIR first on the PATH and
#                                          python/ on PYTHONPATH (where an install puts them) and
#                                          no other variable set (a block that needs the simulated
#                                          board says so), each in a fresh folder that is its HOME;
#                                          fails on the first block that fails. After
#                                          "<!-- runnable: prints the block after it -->" the
#                                          next fenced block is what it must print, exactly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

case ${1:-} in
--status-table)
    page=$root/docs/statuses.md
    printed=$("$2")
    documented=$(sed -n '/<!-- status table -->/,/<!-- end of status table -->/p' "$page" | sed '1d;$d')
    if [ "$printed" != "$documented" ]; then
        echo "docs/statuses.md differs from the statuses in board/statustexts.h:"
        diff <(echo "$documented") <(echo "$printed") || true
        echo "write it again with: $2"
        exit 1
    fi
    echo "docs/statuses.md: $(grep -c '^| [0-9]' <<<"$printed") statuses, as the code has them"
    ;;
--scpi-entries | --scpi-commands)
    # Each header as the page writes it: in server.md, the first word of each `...` of the
    # first column of the command table; in the man page, the first word of each entry named
    # in COMMANDS, its scdoc marks taken off (*bold*, \* a star, _n_ the channel's number).
    entries() {
        awk '/^\| command \| meaning \|$/ { table = 1; next }
             table && !/^\|/ { exit }
             table && !/^\|---/ { print }' "$root/docs/server.md" \
            | sed 's/\\|/ /g' | cut -d'|' -f2 | grep -o '`[^`]*`' | tr -d '`' \
            | awk '$1 != "?" { print "server.md\t" $1 }'
        awk '/^# / { commands = ($0 == "# COMMANDS"); next }
             commands && /^[^\t]/ && NF' "$root/docs/man/tx4410-server.1.scd" \
            | sed 's/\\\*/\x01/g; s/\*//g; s/\x01/*/g; s/_n_/<n>/g; s/, /\n/g' \
            | awk 'NF { print "tx4410-server.1\t" $1 }'
    }
    if [ "$1" = --scpi-entries ]; then entries; else entries | "$2" server.md tx4410-server.1; fi
    ;;
--commands)
    bin=$(cd "$2" && pwd)
    count=0
    for page in "$root"/README.md "$root"/docs/*.md; do
        # Each runnable block as one script, then what it must print ("-" for anything), each
        # ended by NUL.
        while IFS= read -r -d '' block && IFS= read -r -d '' expected; do
            count=$((count + 1))
            work=$(mktemp -d)
            status=0
            # The sanitizers' settings are the test run's, not the reader's: they pass.
            (cd "$work" && env -i PATH="$bin:$PATH" HOME="$work" LANG=C.UTF-8 \
                PYTHONPATH="$root/python" PYTHONDONTWRITEBYTECODE=1 \
                ${ASAN_OPTIONS+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
                timeout 120 bash -euo pipefail -c "$block") >"$work/.output" 2>"$work/.errors" \
                || status=$?
            if [ "$status" -ne 0 ] || { [ "$expected" != - ] \
                && [ "$(cat "$work/.output")" != "${expected%$'\n'}" ]; }; then
                echo "${page#"$root"/}: this block failed (status $status):"
                echo "$block"
                echo "--- it printed:"
                cat "$work/.output" "$work/.errors"
                [ "$expected" = - ] || { echo "--- where the page says:"; echo "$expected"; }
                rm -rf "$work"
                exit 1
            fi
            rm -rf "$work"
        done < <(awk '
            function emit(text) { printf "%s%c", text, 0 }
            /<!-- runnable(: prints the block after it)? -->/ {
                armed = 1; expects = index($0, "prints") > 0; next
            }
            armed && /^```/ && !inside { inside = 1; next }
            inside && /^```/ {
                inside = 0; armed = 0
                if (collecting) { emit(block); collecting = 0 }
                else { emit(block); if (expects) { collecting = 1; armed = 1 } else emit("-") }
                block = ""; next
            }
            inside { block = block $0 "\n" }
        ' "$page")
    done
    [ "$count" -gt 0 ] || { echo "no runnable block in the docs"; exit 1; }
    echo "$count runnable blocks of the docs ran as shown"
    ;;
*)
    echo "usage: docs-check.sh --status-table PROGRAM | --scpi-commands PROGRAM | --scpi-entries | --commands BIN_DIR" >&2
    exit 2
    ;;
esac
