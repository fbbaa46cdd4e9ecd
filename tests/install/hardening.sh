#!/bin/sh
# hardening.sh <cmake> <build dir> <readelf> <objdump>
# Every program and library an install gets is hardened as Debian's packages are: position
# independent, relocations read-only and bound at load, the stack protector in use, indirect
# branch targets marked (control-flow protection), and each compiled with the optimizer, the
# stack clash protection and _FORTIFY_SOURCE's checked libc calls. Debian 12's own start files
# carry no control-flow note, so the marks themselves are counted, not the note.
set -u
stage=$(mktemp -d) && trap 'rm -rf "$stage"' EXIT
"$1" --install "$2" --prefix "$stage" >/dev/null || exit 1
readelf=$3 objdump=$4
status=0 checked=0 checked_calls=0
bad() { echo "$name: $*" >&2; status=1; }
for file in "$stage"/bin/* "$stage"/lib/tx4410/*; do
    [ -L "$file" ] && continue
    "$readelf" -h "$file" >/dev/null 2>&1 || continue # not ELF
    name=$(basename "$file")
    checked=$((checked + 1))
    symbols=$("$readelf" --dyn-syms -W "$file" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
    "$readelf" -h "$file" | grep -q 'Type:.*DYN' || bad "not position independent"
    "$readelf" -lW "$file" | grep -q GNU_RELRO || bad "no read-only relocations (relro)"
    "$readelf" -d "$file" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || bad "not bound at load (now)"
    echo "$symbols" | grep -qx '__stack_chk_fail' || bad "no stack protector"
    echo "$symbols" | grep -Eq '^__[a-z0-9_]+_chk$' && checked_calls=$((checked_calls + 1))
    # Without the protection, only the start files' two functions are marked.
    marks=$("$objdump" -d --no-show-raw-insn "$file" | grep -c 'endbr64')
    [ "$marks" -gt 16 ] || bad "no control-flow protection ($marks branch targets marked)"
    # The build tree's copy, not stripped, says how each of its parts was compiled.
    built=$(find "$2/bin" "$2/lib" -name "$name" -type f | head -n 1)
    producers=$("$readelf" --debug-dump=info "$built" 2>/dev/null | grep 'DW_AT_producer.*GNU C++' | sort -u)
    [ -n "$producers" ] || bad "no compile record in the build tree's $built"
    for flag in -O2 -fstack-protector-strong -fstack-clash-protection -fcf-protection=full; do
        if echo "$producers" | grep -qv -- " $flag"; then bad "a part compiled without $flag"; fi
    done
done
[ "$checked" -gt 5 ] || { echo "only $checked binaries in the install" >&2; exit 1; }
# Where the compiler knows no object's size it keeps the plain call: not every binary shows a
# checked one, but the definition must reach the build.
[ "$checked_calls" -gt 0 ] || { echo "no binary calls libc's checked functions: no _FORTIFY_SOURCE" >&2; status=1; }
[ "$status" = 0 ] && echo "$checked programs and libraries hardened ($checked_calls with checked libc calls)"
exit $status
