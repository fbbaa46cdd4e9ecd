#!/usr/bin/env bash
# Builds everything and runs every test. On a fresh Debian 12 machine it first installs what is
# missing.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
