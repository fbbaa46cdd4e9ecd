#!/usr/bin/env bash
# Builds and starts a program on the simulated board: ./run.sh [TX4410-version2|TX4410].
# With no display it runs the program under Xvfb for a few seconds and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")"
program=${1:-TX4410-version2}
case "$program" in
    TX4410|TX4410-version2) ;;
    *) echo "usage: $0 [TX4410-version2|TX4410]" >&2; exit 2 ;;
esac
scripts/install-deps.sh
scripts/build.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    scripts/screenshot.sh "$program" build/screenshot.png
    echo "No display: ran $program under Xvfb and saved its window to build/screenshot.png"
    exit 0
fi
TX4410_BOARD=sim exec "build/bin/$program"
