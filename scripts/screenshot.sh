#!/usr/bin/env bash
# Starts a program on the simulated board under Xvfb, waits for its main window, writes a PNG of
# that window alone and stops the program. Exits non-zero when no window appears.
# Usage: scripts/screenshot.sh [program] [output.png]
#   program: a path, or a name in build/bin (default TX4410-version2)
#   output:  default build/screenshot.png
# Needs Debian's xvfb, x11-utils (xwininfo) and imagemagick (import).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-TX4410-version2}
[[ $program == */* ]] || program=$root/build/bin/$program
output=${2:-$root/build/screenshot.png}
title='TX4410 Evaluation Software'
timeout_seconds=${SCREENSHOT_TIMEOUT:-30}

for tool in Xvfb xwininfo import; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 2; }
done
[ -x "$program" ] || { echo "screenshot: no program at $program" >&2; exit 2; }
mkdir -p "$(dirname "$output")"

work=$(mktemp -d)
xvfb_pid=''
program_pid=''
# Stops what this script started, whatever way it ends, and keeps the script's own status.
cleanup() {
    local status=$?
    set +e
    for pid in $program_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# The server picks a free display itself and tells its number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

TX4410_BOARD=sim QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
program_pid=$!

window=''
deadline=$((SECONDS + timeout_seconds))
while [ $SECONDS -lt $deadline ]; do
    if ! kill -0 "$program_pid" 2>/dev/null; then
        echo "screenshot: $program ended before its window appeared" >&2
        cat "$work/program.log" >&2
        program_pid=''
        exit 1
    fi
    window=$(xwininfo -root -tree 2>/dev/null \
        | awk -v title="\"$title" 'index($0, title) { print $1; exit }')
    if [ -n "$window" ] && xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsViewable'; then
        break
    fi
    window=''
    sleep 0.2
done
if [ -z "$window" ]; then
    echo "screenshot: no window titled \"$title\" within ${timeout_seconds}s" >&2
    cat "$work/program.log" >&2
    exit 1
fi

sleep 1 # let the first paint land
import -window "$window" "$output"
echo "$output"
