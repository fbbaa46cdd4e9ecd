#!/usr/bin/env bash
# The template unit as server.md has a user set it up and undo it, under a systemd user manager
# of this test's own, in the namespaces of scripts/private-network.sh: the ports' file written
# first, then the instance enabled, listens where the file says; a changed file holds after a
# restart; the server ends with status 0 when stopped; undone as the page says, nothing of it is
# left in the user's configuration once the units are gone (as after a purge).
# Usage: scripts/private-network.sh user_units.sh SOURCE_DIR BIN_DIR
set -euo pipefail
source=$1 bin=$2
scratch=$(mktemp -d)
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
config=$HOME/.config
# The manager reads /proc as its process namespace has it, and runs where systemd booted.
mount -t proc proc /proc
mkdir -p /run/systemd/system "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# The package's folder of user units, read after the user's own: here the user's data folder.
units=$HOME/.local/share/systemd/user
mkdir -p "$units"
for unit in tx4410-server.service tx4410-server@.service; do
    sed "s|@TX4410_BIN@|$bin|" "$source/server/$unit.in" >"$units/$unit"
done
/usr/lib/systemd/systemd --user >"$scratch/manager.log" 2>&1 &
manager=$!
trap 'kill $manager 2>/dev/null; wait $manager 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "user units: $*"; exit 1; }
for _ in $(seq 100); do systemctl --user is-system-running >/dev/null 2>&1 && break; sleep 0.1; done
systemctl --user is-system-running >/dev/null || fail "the user manager did not start: $(cat "$scratch/manager.log")"

free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
answers() { # port: the *IDN? the instance gives there, within 10 s
    for _ in $(seq 100); do
        lxi scpi --raw --address 127.0.0.1 --port "$1" "*IDN?" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
ports() { printf 'TX4410_LISTEN=127.0.0.1:%s\nTX4410_HTTP=127.0.0.1:%s\n' "$1" "$2"; }

# The simulated board for every instance, as systemctl --user edit would write it.
mkdir -p "$config/systemd/user/tx4410-server@.service.d"
printf '[Service]\nEnvironment=TX4410_BOARD=sim\n' >"$config/systemd/user/tx4410-server@.service.d/override.conf"
first=$(free_port) second=$(free_port)
mkdir -p "$config/tx4410" && ports "$first" "$(free_port)" >"$config/tx4410/sim.env"
systemctl --user enable --now tx4410-server@sim 2>/dev/null
[ "$(answers "$first")" = "TX4410 bench program,TX4410,sim,1.0.0" ] \
    || fail "the instance does not answer on $first, the port its file names"

ports "$second" "$(free_port)" >"$config/tx4410/sim.env"
systemctl --user restart tx4410-server@sim
answers "$second" >/dev/null || fail "after a restart, the instance does not answer on $second"
lxi scpi --raw --address 127.0.0.1 --port "$first" "*IDN?" >/dev/null 2>&1 \
    && fail "after a restart, the instance still answers on $first"

# Without the file, on any free ports: it still starts and stays up.
rm "$config/tx4410/sim.env"
systemctl --user restart tx4410-server@sim
sleep 1
[ "$(systemctl --user is-active tx4410-server@sim)" = active ] \
    || fail "without its file, the instance is $(systemctl --user is-active tx4410-server@sim)"

# Undone as server.md says, before the units go.
systemctl --user stop tx4410-server@sim
[ "$(systemctl --user show -p ExecMainCode --value tx4410-server@sim)" = 1 ] \
    && [ "$(systemctl --user show -p ExecMainStatus --value tx4410-server@sim)" = 0 ] \
    || fail "the server did not end with status 0: $(systemctl --user show -p Result -p ExecMainCode -p ExecMainStatus tx4410-server@sim)"
systemctl --user disable --now tx4410-server tx4410-server@sim 2>/dev/null
rm -rf "$config/systemd/user/tx4410-server.service.d" "$config"/systemd/user/tx4410-server@*.service.d
rm -rf "$config/tx4410"
systemctl --user daemon-reload
rm "$units"/tx4410-server*.service # the purge
left=$(find "$config" -xtype l -o -name '*tx4410*')
[ -z "$left" ] || fail "left in the user's configuration: $left"
echo "user units: the instance listens where its file says, after a restart too, and is undone whole"
