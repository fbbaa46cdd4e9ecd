#!/usr/bin/env bash
# Prints the share of test code: non-blank C++ lines (.cpp .h .hpp .in) under tests/ over those of
# the product, bench/ in neither; fails above 0.40. Counts the tracked files, or all of them
# outside a git checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files '*.cpp' '*.h' '*.hpp' '*.in'
    else
        find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \
            -o -name '*.in' \) -print | sed 's|^\./||'
    fi
}
lines() { xargs -r cat | grep -c '[^[:space:]]' || true; }
tests=$(files | grep '^tests/' | lines)
product=$(files | grep -v -e '^tests/' -e '^bench/' | lines)
# Above 0.40 fails: the tests are kept at about a third of the product.
awk -v t="$tests" -v p="$product" 'BEGIN {
    printf "test share: %d / %d = %.4f (at most 0.40)\n", t, p, t / p
    exit t > 0.40 * p
}'
