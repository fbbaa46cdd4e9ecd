#!/usr/bin/env bash
# Checks tx4410-server's systemd user units as systemd reads them: the unit, and the template as
# an instance named by a USB port path, each naming the built program.
# Usage: units.sh SOURCE_DIR BIN_DIR
set -euo pipefail
source=$1 bin=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch
for unit in tx4410-server.service tx4410-server@1-2.3.service; do
    template=$source/server/${unit/@1-2.3/@}.in
    sed "s|@TX4410_BIN@|$bin|" "$template" >"$scratch/$unit"
    # The manual page is not installed in a build tree.
    systemd-analyze verify --user --man=no "$scratch/$unit"
done
grep -q -- '--board %i ' "$source/server/tx4410-server@.service.in"
echo "units: verified"
