#!/usr/bin/env bash
# Discovery by lxi discover --mdns: the seconds from tx4410-server's start to the moment lxi
# lists it, a new server each run, one line per run. Run by scripts/bench.sh in a private
# network (scripts/private-network.sh), where it starts a dbus and an avahi-daemon of its own.
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
for _ in $(seq "$runs"); do
    start=$(now)
    TX4410_BOARD=sim "$server" --listen 0.0.0.0:0 2> "$scratch/server.log" &
    pid=$!
    found=''
    # lxi prints each service as it finds it: line by line, so that each line comes when found.
    # This run's server is the one on the port its log names (the last run's may linger in
    # caches under the same name).
    while IFS= read -r line; do
        case $line in
        *'scpi-raw service on port '*)
            port=$(sed -n 's/.*listening on 0\.0\.0\.0:\([0-9]*\),.*/\1/p' "$scratch/server.log")
            if [ "${line##* }" = "$port" ]; then
                found=$(now)
                break
            fi
            ;;
        esac
    done < <(stdbuf -oL lxi discover --mdns --timeout 4)
    kill -TERM $pid
    wait $pid || { echo "tx4410-server did not end well: $(cat "$scratch/server.log")" >&2; exit 1; }
    # The next run starts as a new server on the network does: with no record of this one left.
    for _ in $(seq 50); do
        avahi-browse -tp _scpi-raw._tcp 2>/dev/null | grep -q 'TX4410' || break
        sleep 0.1
    done
    [ -n "$found" ] || { echo "lxi did not find it: $(cat "$scratch/server.log")" >&2; exit 1; }
    awk -v a="$start" -v b="$found" 'BEGIN { printf "%.3f\n", b - a }'
done
