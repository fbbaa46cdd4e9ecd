#!/bin/sh
# Runs a command in a network, mount and process namespace of its own, so that what it
# announces, broadcasts or binds never leaves it: loopback up, a pair of virtual Ethernet ends
# joined to each other (veth0 10.44.0.1/24, veth1 10.44.0.2/24) for broadcast and multicast, and
# a /run of its own for the daemons the command starts (dbus, avahi-daemon, rpcbind), which end
# with it.
# Usage: scripts/private-network.sh COMMAND [ARGUMENT...]
# As root, or as a user where the kernel lets users make namespaces. Exits 77 (CTest's
# "skipped") when the namespaces cannot be made.
set -eu
if [ "${TX4410_PRIVATE_NETWORK:-}" != inside ]; then
    as_user=
    [ "$(id -u)" -eq 0 ] || as_user=--map-root-user
    # shellcheck disable=SC2086
    unshare $as_user --net --mount --pid --fork true 2>/dev/null || {
        echo "private-network: cannot make a network namespace here; skipped" >&2
        exit 77
    }
    # shellcheck disable=SC2086
    TX4410_PRIVATE_NETWORK=inside exec unshare $as_user --net --mount --pid --fork \
        --propagation private "$0" "$@"
fi
ip link set lo up
ip link add veth0 type veth peer name veth1
ip addr add 10.44.0.1/24 broadcast 10.44.0.255 dev veth0
ip addr add 10.44.0.2/24 broadcast 10.44.0.255 dev veth1
ip link set veth0 up
ip link set veth1 up
mount -t tmpfs -o mode=755 tmpfs /run
# The namespace's own processes under /proc, as their numbers are seen here.
mount -t proc proc /proc
# Not exec'd: the shell stays the namespace's first process, so that the command's daemons end
# with it (the kernel ends every other process of the namespace when the first one ends).
"$@"
