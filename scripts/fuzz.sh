#!/bin/sh
# Builds the number reading fuzzer with clang and the sanitizers and runs it on a copy of the
# seed corpus for the given number of seconds (default 30). Exits non-zero on a finding; the
# failing input is left in build-fuzz/ as crash-*.
set -eu

seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTX4410_FUZZ=ON -DTX4410_BUILD_BENCH=OFF
cmake --build "$build" --target numberreading_fuzzer -j2

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$root"/tests/fuzz/corpus/* "$corpus"/

"$build/bin/numberreading_fuzzer" -max_total_time="$seconds" -artifact_prefix="$build/" "$corpus"
