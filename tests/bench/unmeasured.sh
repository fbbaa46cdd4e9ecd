#!/usr/bin/env bash
# scripts/bench.sh when figures cannot be measured: a build folder with the start-up program
# alone, and a hyperfine that fails. The peak memory is measured and printed; every other
# figure's row says not measured and why; the run ends with status 3, a usage error with 2.
# Usage: unmeasured.sh SOURCE_DIR BIN_DIR
set -euo pipefail
source=$1 bin=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/build/bin" "$scratch/tools"
ln -s "$bin/TX4410-startup" "$scratch/build/bin/"
printf '#!/bin/sh\nexit 1\n' >"$scratch/tools/hyperfine"
chmod +x "$scratch/tools/hyperfine"
fail() { echo "bench unmeasured: $*"; cat "$scratch/table"; exit 1; }
status=0
PATH=$scratch/tools:$PATH BUILD_DIR=$scratch/build "$source/scripts/bench.sh" --quick \
    >"$scratch/table" 2>"$scratch/errors" || status=$?
[ $status = 3 ] || fail "status $status, not 3"
grep -q '^# TX4410 bench quick' "$scratch/table" || fail "no heading"
grep -Eq '^memory\.ratio_to_bare +[0-9]+\.[0-9]{4} +<= 1\.30 (PASS|MISS)$' "$scratch/table" \
    || fail "the peak memory, measured, is not in the table"
grep -Eq '^startup\.ratio_to_controls +not measured +<= 1\.00 \(a start-up did not run' \
    "$scratch/table" || fail "the start-up's row does not say why it was not measured"
grep -Fq "(no $scratch/build/bin/TX4410-bench (build it: scripts/build.sh))" "$scratch/table" \
    || fail "the actions' rows do not name the program that is missing"
grep -q '^bench: inprocess not measured: no ' "$scratch/errors" || fail "nothing said as it happened"
# Every row but the peak memory's says it was not measured: none shows a number for a figure
# that was not taken.
measured=$(grep -v '^#' "$scratch/table" | grep -v ' not measured ' | grep -cv '^memory\.' || true)
[ "$measured" = 0 ] || fail "$measured rows show a figure that was not measured"
rows=$(grep -c ' not measured ' "$scratch/table")
grep -qx "# not measured: $rows (each row says why)" "$scratch/table" || fail "the count is not $rows"
for usage in --bogus --out; do
    status=0
    "$source/scripts/bench.sh" $usage >"$scratch/table" 2>/dev/null || status=$?
    [ $status = 2 ] && [ ! -s "$scratch/table" ] || fail "$usage: status $status, not a usage error"
done
echo "bench unmeasured: $rows rows not measured, each with its reason; the rest printed"
