#!/bin/sh
# Builds the fuzzers (number reading, the Intel HEX reader, the SCPI parser, the server's RPC
# and HTTP wire formats) with clang and the sanitizers and runs each on a copy of its seed corpus for the
# given number of seconds (default 30), so that the whole run takes about four times that.
# Exits non-zero on a finding; the failing input is left in build-fuzz/ as crash-*.
set -eu

seconds=${1:-30}
# libFuzzer takes -max_total_time=0 as no limit at all: only a whole number of seconds from 1.
case $seconds in
    ''|*[!0-9]*|0*) echo "usage: $0 [SECONDS]   (a whole number from 1, per fuzzer)" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DTX4410_FUZZ=ON -DTX4410_BUILD_BENCH=OFF
cmake --build "$build" --target numberreading_fuzzer intelhex_fuzzer scpi_fuzzer rpc_fuzzer http_fuzzer -j2

for fuzzer in numberreading:corpus intelhex:intelhex-corpus scpi:scpi-corpus rpc:rpc-corpus \
    http:http-corpus; do
    name=${fuzzer%%:*}
    corpus="$build/${fuzzer#*:}"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp "$root/tests/fuzz/${fuzzer#*:}"/* "$corpus"/
    "$build/bin/${name}_fuzzer" -max_total_time="$seconds" -artifact_prefix="$build/" "$corpus"
done
