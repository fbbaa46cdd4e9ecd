#!/bin/sh
# hardening.sh <cmake> <build dir> <readelf>
# Every program and library an install gets is hardened as Debian's packages are: position
# independent, relocations read-only and bound at load, the stack protector in use, libc's
# checked calls where a fortifiable one is called, and the control-flow protection notes.
set -u
stage=$(mktemp -d) && trap 'rm -rf "$stage"' EXIT
"$1" --install "$2" --prefix "$stage" >/dev/null || exit 1
readelf=$3
status=0
bad() { echo "$file: $*" >&2; status=1; }
checked=0
for file in "$stage"/bin/* "$stage"/lib/tx4410/*; do
    "$readelf" -h "$file" >/dev/null 2>&1 || continue # not ELF
    checked=$((checked + 1))
    header=$("$readelf" -h "$file") dynamic=$("$readelf" -d "$file")
    symbols=$("$readelf" --dyn-syms -W "$file" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
    echo "$header" | grep -q 'Type:.*DYN' || bad "not position independent"
    "$readelf" -lW "$file" | grep -q GNU_RELRO || bad "no read-only relocations (relro)"
    echo "$dynamic" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || bad "not bound at load (now)"
    echo "$symbols" | grep -qx '__stack_chk_fail' || bad "no stack protector"
    # As hardening-check: a fortifiable libc call with none of the checked ones is unprotected.
    if echo "$symbols" | grep -Eqx '(memcpy|memmove|memset|strcpy|strncpy|strcat|snprintf|sprintf|vsnprintf|fprintf|printf|read|fgets|getcwd|realpath|readlink|poll|ppoll|recv|recvfrom)'; then
        echo "$symbols" | grep -Eq '^__[a-z_]+_chk$' || bad "no _FORTIFY_SOURCE"
    fi
    "$readelf" -nW "$file" | grep -q 'x86 feature: IBT, SHSTK' || bad "no control-flow protection"
done
[ "$checked" -gt 3 ] || { echo "only $checked binaries in the install" >&2; exit 1; }
[ "$status" = 0 ] && echo "$checked programs and libraries hardened"
exit $status
