#!/bin/sh
# run-paths.sh <cmake> <build dir> <readelf>
# Every program and library of the build tree and of an install staged from it: no run path
# entry may be empty (the current folder) or relative; $ORIGIN and absolute paths only.
set -u
stage=$(mktemp -d) && trap 'rm -rf "$stage"' EXIT
"$1" --install "$2" --prefix "$stage" >/dev/null || exit 1
status=0
for file in "$2"/bin/* "$2"/lib/*.so "$stage"/lib/tx4410/*; do
    "$3" -h "$file" >/dev/null 2>&1 || continue # not ELF
    path=$("$3" -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
    [ -z "$path" ] && continue
    if printf '%s\n' "$path" | tr ':' '\n' | grep -Eqv '^(/|\$ORIGIN(/|$)|\$\{ORIGIN\}(/|$))'; then
        echo "$file: run path \"$path\"" >&2
        status=1
    fi
done
exit $status
