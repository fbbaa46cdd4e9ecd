#!/usr/bin/env bash
# The benchmark: start-up on hyperfine, everything inside one process on Google Benchmark; then
# one table of the figures against their targets. Run by hand; the figures depend on the machine.
# Usage: scripts/bench.sh [--quick] [--check] [--out DIR]
#   --quick  fewer runs and repetitions, no 20-second auto-sample measurement
#   --check  exit 1 when a target is missed
#   --out    keep the tools' JSON files in DIR (default: a temporary folder, removed)
# Exit status: 0 every figure was measured (missed targets marked MISS), 1 a target was missed
# and --check was given, 2 a usage error, 3 a figure could not be measured (its row says why;
# the rest of the table is printed). Needs the bench built (scripts/build.sh), hyperfine, jq
# and umockdev-wrapper (scripts/install-deps.sh --bench).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-build}
[[ $build == /* ]] || build=$root/$build
bin=$build/bin
quick=0 check=0 out=''
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 ;;
    --check) check=1 ;;
    --out)
        [ $# -ge 2 ] || { echo "bench: --out needs a folder" >&2; exit 2; }
        out=$2; shift ;;
    -h | --help) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
# Each group of figures measured together, and why it was not, when it was not: its rows then
# say so, and the rest are measured and printed all the same.
declare -A why=()
not_measured() { # group, reason
    [ -n "${why[$1]:-}" ] || why[$1]=$2
    echo "bench: $1 not measured: $2" >&2
}
needs() { # group, then the tools, daemons and built programs its figures need
    local group=$1 need
    shift
    for need; do
        if [[ $need == */* ]]; then
            [ -x "$need" ] || not_measured "$group" "no $need (build it: scripts/build.sh)"
        else
            PATH=$PATH:/usr/sbin:/sbin command -v "$need" >/dev/null \
                || not_measured "$group" "$need is missing (scripts/install-deps.sh --bench)"
        fi
    done
    [ -z "${why[$group]:-}" ]
}
# The server's VXI-11 and discovery figures in a network of its own: its port mapper binds port
# 111 there, and discovery meets an avahi-daemon of its own (root, or user namespaces).
lan=("$root/scripts/private-network.sh")
lan_reason=''
"${lan[@]}" true 2>/dev/null || lan_reason="no private network can be made here (scripts/private-network.sh)"
for group in server discovery panel boards hostile; do
    [ -z "$lan_reason" ] || not_measured $group "$lan_reason"
done
if [ -z "$out" ]; then
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out/runtime" && chmod 700 "$out/runtime"

# The program's ordinary path: offscreen, the simulated board, no trace, no simulated faults.
export QT_QPA_PLATFORM=offscreen TX4410_BOARD=sim XDG_RUNTIME_DIR=$out/runtime
unset TX4410_BOARD_TRACE TX4410_SIM_ABSENT_ATTEMPTS TX4410_SIM_FAIL_REQUESTS TX4410_SIM_UNPLUGGED
cpu() { awk '/^cpu / { print $2+$3+$4+$7+$8+$9, $2+$3+$4+$5+$6+$7+$8+$9 }' /proc/stat; }
own() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14+$15+$16+$17) / hz }' "/proc/$$/stat"; }
read -r busy0 total0 < <(cpu)
load0=$(cut -d' ' -f1-3 /proc/loadavg)

# First each window's peak memory, and the program's own check that its window still holds what
# the plain-controls window copies: a start-up that fails says why here, not under hyperfine.
if needs peak "$bin/TX4410-startup"; then
    for kind in program bare label controls; do
        for _ in 1 2 3 4 5; do
            "$bin/TX4410-startup" $kind --paint --report || echo failed
        done > "$out/peaks-$kind"
        if grep -qx failed "$out/peaks-$kind"; then
            not_measured peak "the $kind start-up failed (see above)"
            break
        fi
        awk '{ print $2 }' "$out/peaks-$kind" | sort -n | sed -n 3p > "$out/peak-$kind"
    done
fi

# Start-up: whole processes, each ending at its window's first show (or first paint). Rounds
# with the order turned, so that a drift of the machine hits every window alike.
kinds=('program' 'bare' 'label' 'controls' 'program --paint' 'controls --paint')
if [ $quick = 1 ]; then rounds=1 runs=5; else rounds=10 runs=6; fi
[ -n "${why[peak]:-}" ] && not_measured startup "${why[peak]}"
if needs startup hyperfine jq "$bin/TX4410-startup"; then
    for round in $(seq 0 $((rounds - 1))); do
        commands=()
        for i in "${!kinds[@]}"; do
            kind=${kinds[$(((i + round) % ${#kinds[@]}))]}
            commands+=(-n "$kind" "$bin/TX4410-startup $kind")
        done
        hyperfine -N --warmup 1 --runs $runs --style basic --export-json "$out/startup-$round.json" \
            "${commands[@]}" >&2 || { not_measured startup "a start-up did not run (see above)"; break; }
    done
fi

# In one process: the window's actions, the tick, the request overhead; the libusb round trip
# under the wrapper, so that libusb finds the testbed's board and the rest runs unwrapped. A
# benchmark that fails leaves its error in the JSON, which its rows then give; no JSON at all
# leaves the whole group unmeasured.
quickly=(); [ $quick = 1 ] && quickly=(--quick)
gb() { # group, JSON file, the benchmarks to run (empty: all), command
    local group=$1 json=$2 filter=$3 status=0 said
    shift 3
    "$@" "${quickly[@]}" ${filter:+"--benchmark_filter=$filter"} --benchmark_out="$json" \
        --benchmark_out_format=json >&2 2>"$json.err" || status=$?
    cat "$json.err" >&2
    said=$(grep -m1 'error: ' "$json.err" | sed 's/.*error: \(could not measure: \)\{0,1\}//')
    if ! jq -e '.benchmarks | length > 0' "$json" >/dev/null 2>&1; then
        not_measured "$group" "${said:-its program gave no figures (see above)}"
    elif [ $status -ne 0 ] && ! jq -e 'any(.benchmarks[]; .error_occurred)' "$json" >/dev/null; then
        # A failure outside the benchmarks (the server did not end well) makes none of it true.
        not_measured "$group" "${said:-its program failed with status $status (see above)}"
    fi
}
needs inprocess jq "$bin/TX4410-bench" && gb inprocess "$out/inprocess.json" '' "$bin/TX4410-bench"
needs libusb jq umockdev-wrapper "$bin/TX4410-bench-libusb" \
    && gb libusb "$out/libusb.json" '' umockdev-wrapper "$bin/TX4410-bench-libusb"
# The server against a bare TCP echo, and under 8 pipelining clients. The round trips twice:
# with the client, the echo and the server on one processor, so that the floor and the server
# meet the same scheduling (the target), and free to move, as they run by default.
if needs server jq taskset "$bin/TX4410-bench-server" "$bin/tx4410-server"; then
    processor=$(taskset -pc $$ | sed 's/.*: *//; s/[,-].*//')
    gb server "$out/server-pinned.json" 'server/(roundtrip|vxi11)' "${lan[@]}" \
        taskset -c "$processor" "$bin/TX4410-bench-server"
    [ -z "${why[server]:-}" ] && gb server "$out/server.json" 'server/(roundtrip|pipelined)' \
        "${lan[@]}" "$bin/TX4410-bench-server"
fi
# A real client's figure: lxi's own benchmark (*IDN? after *IDN?) against a server of its own.
if needs lxi lxi "$bin/tx4410-server"; then
    "$bin/tx4410-server" --listen 127.0.0.1:0 2> "$out/server.log" &
    server=$!
    for _ in $(seq 50); do grep -q 'listening on' "$out/server.log" && break; sleep 0.1; done
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$out/server.log")
    if [ -z "$port" ]; then
        not_measured lxi "tx4410-server did not start: $(head -1 "$out/server.log")"
    else
        lxi benchmark --raw --address 127.0.0.1 --port "$port" \
            --count "$([ $quick = 1 ] && echo 500 || echo 5000)" \
            | sed -n 's/.*Result: \([0-9.]*\) requests.*/\1/p' > "$out/lxi.txt"
        [ -s "$out/lxi.txt" ] || not_measured lxi "lxi benchmark gave no result"
    fi
    kill -TERM $server; wait $server || not_measured lxi "tx4410-server did not end with status 0"
fi
# Discovery: a new server each run, found by lxi discover --mdns.
needs discovery lxi stdbuf unshare avahi-daemon dbus-daemon "$bin/tx4410-server" \
    && { "${lan[@]}" "$root/bench/discovery.sh" "$bin/tx4410-server" \
        "$([ $quick = 1 ] && echo 3 || echo 10)" > "$out/discovery.txt" \
        || not_measured discovery "bench/discovery.sh failed (see above)"; }
# The front panel in headless chromium: a setting to its readback shown, ten pages beside an
# SCPI client, the page's transfer.
needs panel jq chromium chromedriver "$bin/tx4410-server" "$bin/tx4410-cli" \
    && { "${lan[@]}" /usr/bin/python3 "$root/bench/panel.py" "$bin/tx4410-server" "$bin/tx4410-cli" \
        $([ $quick = 1 ] && echo --quick) > "$out/panel.json" \
        || not_measured panel "bench/panel.py failed (see above)"; }
# Hostile peers: an SCPI client's round trip beside 1,000 silent connections, and the memory
# of a server whose 16 clients never read.
needs hostile jq "$bin/tx4410-server" \
    && { "${lan[@]}" /usr/bin/python3 "$root/bench/hostile.py" "$bin/tx4410-server" \
        $([ $quick = 1 ] && echo --quick) > "$out/hostile.json" \
        || not_measured hostile "bench/hostile.py failed (see above)"; }
# Calibration: a calibrated setting's cost and a record's storing in the program, then the whole
# calibrate command against four sweeps through the simulated meter, and history over 10,000
# stored sweeps.
if needs calibration jq "$bin/TX4410-bench-calibration" "$bin/tx4410-cli" "$bin/tx4410-sim-meter"; then
    mkdir -p "$out/calibration"
    "$bin/TX4410-bench-calibration" "$out/calibration" $([ $quick = 1 ] && echo --quick) \
        > "$out/calibration-cost.json" \
        || not_measured calibration "TX4410-bench-calibration failed (see above)"
    [ -z "${why[calibration]:-}" ] \
        && { /usr/bin/python3 "$root/bench/calibration.py" "$bin" "$out/calibration" \
            $([ $quick = 1 ] && echo --quick) > "$out/calibration-runs.json" \
            || not_measured calibration "bench/calibration.py failed (see above)"; }
fi
# Every board: --all over four boards in the tests' USB testbed, against one board's server.
needs boards jq "$bin/bedhost" "$bin/tx4410-server" \
    && { "${lan[@]}" /usr/bin/python3 "$root/bench/boards.py" "$bin/tx4410-server" "$bin/bedhost" \
        $([ $quick = 1 ] && echo --quick) > "$out/boards.json" \
        || not_measured boards "bench/boards.py failed (see above)"; }

read -r busy1 total1 < <(cpu)
# What the rest of the machine used meanwhile: all its work less this script's and its children's.
others=$(awk -v b="$((busy1 - busy0))" -v t="$((total1 - total0))" -v o="$(own)" \
    -v hz="$(getconf CLK_TCK)" 'BEGIN { s = (b - o * hz) / t; printf "%.0f", (s < 0 ? 0 : s) * 100 }')

# The figures: start-up medians over all rounds' runs, ratios of medians; aggregates of the rest.
# Each value is a number, or "not measured: WHY" when its group or its own benchmark failed.
value() { # group, then the command that prints the figure
    local group=$1 figure
    shift
    if [ -n "${why[$group]:-}" ]; then
        echo "not measured: ${why[$group]}"
        return
    fi
    figure=$("$@" 2>/dev/null)
    if [ -n "$figure" ] && [ "$figure" != null ]; then
        echo "$figure"
    else
        echo "not measured: no such figure in the $group output"
    fi
}
startup() {
    value startup jq -s --arg kind "$1" '[.[].results[] | select(.command == $kind) | .times[]] | sort
        | if length % 2 == 1 then .[length / 2 | floor] else (.[length / 2 - 1] + .[length / 2]) / 2 end
        * 1000' "$out"/startup-*.json
}
# Under load, a run only gets longer: the fastest run and the processor time it used (user and
# system, hyperfine's means) say what the median cannot.
startup_min() {
    value startup jq -s --arg kind "$1" '[.[].results[] | select(.command == $kind) | .times[]] | min * 1000' \
        "$out"/startup-*.json
}
startup_cpu() {
    value startup jq -s --arg kind "$1" '[.[].results[] | select(.command == $kind) | .user + .system] | add / length * 1000' \
        "$out"/startup-*.json
}
aggregate() { # file, run name, aggregate, field: a benchmark that failed gives its error
    local group=${1%%-*} failure
    failure=$(jq -r --arg run "$2" \
        'first(.benchmarks[] | select(.run_name == $run and .error_occurred)) | .error_message' \
        "$out/$1.json" 2>/dev/null)
    if [ -z "${why[$group]:-}" ] && [ -n "$failure" ]; then
        echo "not measured: $failure"
        return
    fi
    value "$group" jq -e --arg run "$2" --arg agg "$3" --arg field "$4" \
        'first(.benchmarks[] | select(.run_name == $run and .aggregate_name == $agg)) | .[$field]' \
        "$out/$1.json"
}
for kind in "${kinds[@]}"; do declare "ms_${kind/ --paint/_paint}=$(startup "$kind")"; done
for kind in program bare label controls; do declare "kib_$kind=$(value peak cat "$out/peak-$kind")"; done

misses=0 unmeasured=0
rows=()
row() { # name, measured (or "not measured: WHY"), bound (<, <= or >=), limit
    local verdict=''
    if [[ $2 == 'not measured'* ]]; then
        unmeasured=$((unmeasured + 1))
        rows+=("$(printf '%-62s %14s %10s (%s)' "$1" 'not measured' "${3:-} ${4:-}" "${2#not measured: }")")
        return
    fi
    if [ -n "${3:-}" ]; then
        if awk -v v="$2" -v l="$4" -v op="$3" \
            'BEGIN { exit !(op == "<" ? v < l : op == "<=" ? v <= l : v >= l) }'; then
            verdict=PASS
        else
            verdict=MISS misses=$((misses + 1))
        fi
    fi
    rows+=("$(printf '%-62s %14s %10s %s' "$1" "$2" "${3:-} ${4:-}" "$verdict")")
}
# A figure not measured passes through both as it is.
fmt() {
    if [[ $2 == 'not measured'* ]]; then echo "$2"; else awk -v v="$2" -v d="$1" 'BEGIN { printf "%.*f", d, v }'; fi
}
scaled() {
    if [[ $1 == 'not measured'* ]]; then echo "$1"; else awk -v a="$1" -v b="$2" 'BEGIN { print a * b }'; fi
}
ratio() {
    if [[ $1 == 'not measured'* ]]; then echo "$1"
    elif [[ $2 == 'not measured'* ]]; then echo "$2"
    else awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; fi
}

row "startup.program.median_ms (to the first show)" "$(fmt 2 "$ms_program")"
for kind in bare label controls; do
    name=ms_$kind
    row "startup.$kind.median_ms" "$(fmt 2 "${!name}")"
done
row "startup.ratio_to_bare" "$(ratio "$ms_program" "$ms_bare")"
row "startup.ratio_to_label" "$(ratio "$ms_program" "$ms_label")"
row "startup.ratio_to_controls" "$(ratio "$ms_program" "$ms_controls")" '<=' 1.00
row "startup.fastest.ratio_to_controls" "$(ratio "$(startup_min program)" "$(startup_min controls)")"
row "startup.cpu.ratio_to_controls (user + system)" "$(ratio "$(startup_cpu program)" "$(startup_cpu controls)")"
row "startup.painted.program.median_ms" "$(fmt 2 "$ms_program_paint")"
row "startup.painted.controls.median_ms" "$(fmt 2 "$ms_controls_paint")"
row "startup.painted.ratio_to_controls" "$(ratio "$ms_program_paint" "$ms_controls_paint")"
for kind in program bare label controls; do
    name=kib_$kind
    row "memory.$kind.peak_kib" "${!name}"
done
row "memory.ratio_to_bare" "$(ratio "$kib_program" "$kib_bare")" '<=' 1.30
row "memory.ratio_to_controls" "$(ratio "$kib_program" "$kib_controls")"

repetitions=$([ $quick = 1 ] && echo 200 || echo 1000)
for action in hexKeyRelease hexKeyStroke writeToPart sample commandChoice; do
    run="action/$action/iterations:1/repeats:$repetitions/manual_time"
    row "action.$action.median_us" "$(fmt 1 "$(aggregate inprocess "$run" median real_time)")"
    row "action.$action.p99_us" "$(fmt 1 "$(aggregate inprocess "$run" p99 real_time)")" '<' 2000
    # Repetitions during which the kernel gave the processor to another process.
    row "action.$action.preempted (of $repetitions)" \
        "$(fmt 0 "$(scaled "$(aggregate inprocess "$run" mean preempted)" $repetitions)")"
done
if [ $quick = 0 ]; then
    run="tick/autoSample/iterations:1/repeats:20/manual_time"
    row "tick.interval.median_ms" "$(fmt 3 "$(aggregate inprocess "$run" median real_time)")"
    row "tick.deviation.worst_ms" "$(fmt 3 "$(aggregate inprocess "$run" worst_deviation real_time)")" '<' 2
fi
run="request/selectMuxChannel/iterations:1/repeats:$([ $quick = 1 ] && echo 21 || echo 101)/manual_time"
row "request.program.median_us (whole call)" "$(fmt 3 "$(aggregate inprocess "$run" median real_time)")"
row "request.library.median_us" "$(fmt 3 "$(aggregate inprocess "$run" median library_us)")"
ours=$(aggregate inprocess "$run" median ours_us)
row "request.ours.median_us" "$(fmt 3 "$ours")" '<' 2
row "request.ours.p10_us" "$(fmt 3 "$(aggregate inprocess "$run" p10 ours_us)")"
row "request.ours.p90_us" "$(fmt 3 "$(aggregate inprocess "$run" p90 ours_us)")"
row "request.measuring.median_us (included in ours)" "$(fmt 3 "$(aggregate inprocess "$run" median measuring_us)")"
sweeps=$([ $quick = 1 ] && echo 21 || echo 101)
run="sweep/point/iterations:1/repeats:$sweeps/manual_time"
row "sweep.point.median_us (its loop: write, read, average)" "$(fmt 3 "$(aggregate inprocess "$run" median real_time)")"
row "sweep.direct.median_us (the same requests in a loop)" "$(fmt 3 "$(aggregate inprocess "$run" median direct_us)")"
row "sweep.ratio_to_direct.median" "$(fmt 3 "$(aggregate inprocess "$run" median ratio_to_direct)")" '<=' 1.1
row "sweep.ratio_to_direct.p90" "$(fmt 3 "$(aggregate inprocess "$run" p90 ratio_to_direct)")"
run="sweep/wholeCommand/iterations:1/repeats:$([ $quick = 1 ] && echo 5 || echo 10)/manual_time"
row "sweep.whole_command.median_us per point (figures, CSV too)" "$(fmt 3 "$(aggregate inprocess "$run" median real_time)")"
run="sweep/defaultWithCarries/iterations:1/repeats:$([ $quick = 1 ] && echo 11 || echo 25)/manual_time"
row "sweep.default.median_us (carries code by code, settle 0)" "$(fmt 1 "$(aggregate inprocess "$run" median real_time)")"
row "sweep.before.median_us (257 points, no carries)" "$(fmt 1 "$(aggregate inprocess "$run" median before_us)")"
row "sweep.carries.ratio_to_before.median" "$(fmt 3 "$(aggregate inprocess "$run" median ratio_to_before)")" '<=' 1.3
run="libusb/readAdc/iterations:1/repeats:$([ $quick = 1 ] && echo 2000 || echo 20000)/manual_time"
for agg in median p10 p90; do
    row "libusb.roundtrip.${agg}_us" "$(fmt 2 "$(aggregate libusb "$run" $agg real_time)")"
done
row "libusb.inside.median_us (libusb and the emulated kernel)" "$(fmt 2 "$(aggregate libusb "$run" median inside_us)")"
ours=$(aggregate libusb "$run" median ours_us)
row "libusb.ours.median_us" "$(fmt 3 "$ours")" '<' 12.5
row "libusb.ours.p10_us" "$(fmt 3 "$(aggregate libusb "$run" p10 ours_us)")"
row "libusb.ours.p90_us" "$(fmt 3 "$(aggregate libusb "$run" p90 ours_us)")"
row "libusb.ours.share_of_microframe" "$(ratio "$ours" 125)"
run="server/roundtrip/iterations:1/repeats:$([ $quick = 1 ] && echo 2000 || echo 20000)/manual_time"
server_us=$(aggregate server-pinned "$run" median real_time)
echo_us=$(aggregate server-pinned "$run" median echo_us)
row "server.roundtrip.median_us (MEAS1:CODE? and its answer; one processor)" "$(fmt 2 "$server_us")"
row "server.roundtrip.p90_us" "$(fmt 2 "$(aggregate server-pinned "$run" p90 real_time)")"
row "server.echo.median_us (the same bytes through a bare TCP echo)" "$(fmt 2 "$echo_us")"
row "server.roundtrip.ratio_to_echo" "$(ratio "$server_us" "$echo_us")" '<=' 1.5
free_us=$(aggregate server "$run" median real_time)
free_echo_us=$(aggregate server "$run" median echo_us)
row "server.unpinned.roundtrip.median_us (free to move)" "$(fmt 2 "$free_us")"
row "server.unpinned.echo.median_us" "$(fmt 2 "$free_echo_us")"
row "server.unpinned.ratio_to_echo" "$(ratio "$free_us" "$free_echo_us")"
run="server/pipelined/iterations:1/repeats:$([ $quick = 1 ] && echo 2 || echo 5)/manual_time"
row "server.pipelined.queries_per_s (8 clients, median)" \
    "$(fmt 0 "$(aggregate server "$run" median queries_per_s)")" '>=' 100000
row "server.pipelined.misanswered (missing, extra or out of order)" \
    "$(fmt 0 "$(aggregate server "$run" max misanswered)")" '<=' 0
row "server.lxi.requests_per_s (lxi benchmark -r, *IDN?)" "$(fmt 0 "$(value lxi cat "$out/lxi.txt")")"
run="server/vxi11/iterations:1/repeats:$([ $quick = 1 ] && echo 2000 || echo 20000)/manual_time"
vxi11_us=$(aggregate server-pinned "$run" median real_time)
socket_us=$(aggregate server-pinned "$run" median socket_us)
row "server.vxi11.median_us (MEAS1:CODE? written and read over VXI-11)" "$(fmt 2 "$vxi11_us")"
row "server.vxi11.p90_us" "$(fmt 2 "$(aggregate server-pinned "$run" p90 real_time)")"
row "server.vxi11.socket_median_us (the same query on the socket)" "$(fmt 2 "$socket_us")"
row "server.vxi11.ratio_to_socket" "$(ratio "$vxi11_us" "$socket_us")" '<=' 2.5
panel() { value panel jq -r "$1" "$out/panel.json"; }
row "panel.readback.median_ms (Set on the page to the readback shown)" "$(fmt 2 "$(panel .readback_ms.median)")"
row "panel.readback.max_ms" "$(fmt 2 "$(panel .readback_ms.max)")" '<=' 300
row "panel.floor.median_ms (a request refused without the board)" "$(fmt 2 "$(panel .floor_ms.median)")"
row "panel.scpi.no_page_median_us (MEAS1:CODE? on the socket)" "$(fmt 2 "$(panel .scpi_us.no_page)")"
row "panel.scpi.ten_pages_median_us" "$(fmt 2 "$(panel .scpi_us.ten_pages)")"
row "panel.scpi.ratio_ten_pages_to_none" "$(fmt 4 "$(panel .scpi_us.ratio)")" '<=' 1.2
row "panel.transfer_bytes (page, style and script)" "$(panel .transfer_bytes)" '<' 200000
row "panel.sweep.page_point_us (a sweep from the page, per point)" "$(fmt 1 "$(panel .sweep.page_point_us)")"
row "panel.sweep.cli_point_us (the same grid, tx4410-cli)" "$(fmt 1 "$(panel .sweep.cli_point_us)")"
row "panel.sweep.ratio_to_cli" "$(fmt 3 "$(panel .sweep.ratio)")" '<=' 1.1
row "panel.sweep.early_cpu_us (server, per point, first fifth)" "$(fmt 2 "$(panel .sweep.early_cpu_us)")"
row "panel.sweep.late_cpu_us (server, per point, last fifth)" "$(fmt 2 "$(panel .sweep.late_cpu_us)")"
row "panel.sweep.late_to_early" "$(fmt 3 "$(panel .sweep.late_to_early)")" '<=' 2
boards() { value boards jq -r "$1" "$out/boards.json"; }
row "all.alone.median_us (MEAS1:CODE?, one board's server)" "$(fmt 1 "$(boards .alone_median_us)")"
for n in 0 1 2 3; do
    row "all.inst$n.ratio_to_alone (of four boards)" "$(fmt 4 "$(boards ".instrument_ratio_to_alone[$n]")")" '<=' 1.2
done
row "all.load.worst_us (another board's client while one loads)" "$(fmt 1 "$(boards .while_loading_worst_us)")"
row "all.load.no_load_worst_us (as many requests, no load)" "$(fmt 1 "$(boards .no_load_worst_us)")"
row "all.load.cost_in_requests (worst beyond no load's, in round trips)" "$(fmt 2 "$(boards .load_cost_in_requests)")" '<=' 1
hostile() { value hostile jq -r "$1" "$out/hostile.json"; }
row "hostile.scpi.none_us (MEAS1:CODE?, nothing else open)" "$(fmt 2 "$(hostile .scpi_us.none)")"
row "hostile.scpi.flooded_us (1,000 silent on the abort channel and HTTP)" "$(fmt 2 "$(hostile .scpi_us.flooded)")"
row "hostile.scpi.ratio_flooded_to_none" "$(fmt 3 "$(hostile .scpi_us.ratio)")" '<=' 1.2
row "hostile.memory.peak_mb (16 clients that never read)" "$(fmt 1 "$(hostile .memory_mb.peak)")" '<' 100
cost() { value calibration jq -r "$1" "$out/calibration-cost.json"; }
runs() { value calibration jq -r "$1" "$out/calibration-runs.json"; }
row "calibration.setting.plain_us (SOUR2:VOLT through the instrument)" "$(fmt 3 "$(cost .setting_plain_us)")"
row "calibration.setting.calibrated_us (the same, CAL:STAT ON)" "$(fmt 3 "$(cost .setting_calibrated_us)")"
row "calibration.setting.added_us" "$(fmt 3 "$(cost .setting_added_us)")" '<=' 1
row "calibration.store.median_ms (one record of four channels)" "$(fmt 2 "$(cost .store_record_ms)")" '<=' 20
row "calibration.store.worst_ms" "$(fmt 2 "$(cost .store_record_worst_ms)")"
row "calibration.floor_ms (a run that brings the board up, one request)" "$(fmt 1 "$(runs .floor_ms)")"
row "calibration.calibrate_ms (four channels, 33 points, the meter routed)" "$(fmt 1 "$(runs .calibrate_ms)")"
row "calibration.four_sweeps_ms (one 33-point sweep a channel)" "$(fmt 1 "$(runs .four_sweeps_ms)")"
row "calibration.ratio_to_four_sweeps (less each run's floor)" "$(fmt 3 "$(runs .ratio_less_floor)")" '<=' 1.2
row "calibration.ratio_to_four_sweeps.whole (bring-ups in)" "$(fmt 3 "$(runs .ratio_whole)")"
row "calibration.history_10000.median_ms (tx4410-cli history, 10,000 sweeps)" "$(fmt 1 "$(runs .history_10000_ms)")" '<' 1000
row "calibration.history_10000.worst_ms" "$(fmt 1 "$(runs .history_10000_worst_ms)")"
# A run whose server lxi did not list before it gave up is a miss, not a figure: counted apart.
discovery() {
    value discovery sh -c 'grep -v missed "$1" | sort -n | awk -v q="$2" '"'"'{ v[NR] = $1 }
        END { i = int(q * NR + 0.999); if (i < 1) i = 1; print v[i] }'"'" - "$out/discovery.txt" "$1"
}
row "discovery.lxi_mdns.median_s (from the server's start to lxi discover -m listing it)" "$(discovery 0.5)"
row "discovery.lxi_mdns.max_s" "$(discovery 1)" '<=' 2
row "discovery.lxi_mdns.missed (runs in which lxi, in 4 s, did not list it)" \
    "$(value discovery sh -c 'grep -c missed "$0" || true' "$out/discovery.txt")" '<=' 0

build_type=$(jq -r '.context.build_type // empty' "$out/inprocess.json" 2>/dev/null)
echo "# TX4410 bench $([ $quick = 1 ] && echo quick || echo full), $(date -Iseconds), $(nproc) cpus," \
    "${build_type:-unknown} build, load $load0 -> $(cut -d' ' -f1-3 /proc/loadavg)," \
    "other processes used $others% of the machine"
printf '%s\n' "${rows[@]}"
echo "# targets missed: $misses"
if [ $unmeasured -gt 0 ]; then
    echo "# not measured: $unmeasured (each row says why)"
    exit 3
fi
[ $check = 1 ] && [ $misses -gt 0 ] && exit 1
exit 0
