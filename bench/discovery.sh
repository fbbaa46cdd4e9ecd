#!/usr/bin/env bash
# Discovery by lxi discover --mdns: the seconds from tx4410-server's start to the moment lxi
# lists it, a new server each run, one line per run ("missed" when lxi ended without it). Run
# by scripts/bench.sh in a private network (scripts/private-network.sh), where it starts a dbus
# and an avahi-daemon of its own. Each run's server has a host name of its own (a UTS
# namespace), so its records have a name no earlier run announced: no record of the last run,
# still cached, stands in the way of this one's.
# Usage: bench/discovery.sh SERVER RUNS
set -euo pipefail
server=$1 runs=$2
scratch=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$scratch"' EXIT
cat > "$scratch/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/>
    <allow send_type="method_call"/><allow send_type="signal"/>
    <allow send_type="method_return"/><allow send_type="error"/>
    <allow receive_type="method_call"/><allow receive_type="signal"/>
    <allow receive_type="method_return"/><allow receive_type="error"/>
  </policy>
</busconfig>
CONF
printf '[server]\nuse-ipv4=yes\nuse-ipv6=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n' \
    > "$scratch/avahi.conf"
until_there() { for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.05; done; return 1; }
mkdir -p /run/dbus /run/avahi-daemon
PATH=$PATH:/usr/sbin:/sbin
dbus-daemon --config-file="$scratch/bus.conf" --fork --nopidfile
until_there /run/dbus/system_bus_socket || { echo "dbus did not start" >&2; exit 1; }
avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$scratch/avahi.conf" -D
until_there /run/avahi-daemon/socket || { echo "avahi-daemon did not start" >&2; exit 1; }
# As on a machine where it has run a while: its own host name settled before the first server.
avahi-resolve-host-name -4 "$(hostname).local" > /dev/null

now() { date +%s.%N; }
for run in $(seq "$runs"); do
    name=bench-$$-$run
    start=$(now)
    unshare --uts sh -c 'hostname "$0" && exec "$@"' "$name" env TX4410_BOARD=sim "$server" \
        --listen 0.0.0.0:0 2> "$scratch/server.log" &
    pid=$!
    found='' ours=0
    # lxi prints each service as it finds it: line by line, so that each line comes when found,
    # the service's name on the line before its port.
    while IFS= read -r line; do
        case $line in
        *'Found "'*) [[ $line == *"\"TX4410 sim on $name\""* ]] && ours=1 || ours=0 ;;
        *'scpi-raw service on port '*)
            if [ $ours = 1 ]; then
                found=$(now)
                break
            fi
            ;;
        esac
    done < <(stdbuf -oL lxi discover --mdns --timeout 4)
    # A server not yet up when lxi gave up has no handler for SIGTERM yet.
    for _ in $(seq 100); do grep -q 'listening on' "$scratch/server.log" && break; sleep 0.1; done
    kill -TERM $pid
    wait $pid || { echo "tx4410-server did not end well: $(cat "$scratch/server.log")" >&2; exit 1; }
    if [ -n "$found" ]; then
        awk -v a="$start" -v b="$found" 'BEGIN { printf "%.3f\n", b - a }'
    else
        echo missed
    fi
done
