#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds, tests and runs with; quiet when they are
# already there. Needs root (or sudo) only when something is missing. --bench: also what
# scripts/bench.sh runs and the start-up profile uses; --release: also what releasing uses
# (dch, for the changelog's entry: docs/development.md, Releasing).
set -euo pipefail

packages=(
    cmake g++ make pkgconf
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libqt6sql6-sqlite
    qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
    fonts-liberation
    xvfb xauth x11-utils imagemagick
    libusb-1.0-0-dev umockdev libumockdev-dev
    dpkg-dev file lintian
    clang libclang-rt-14-dev
    libbenchmark-dev
    python3-pyvisa python3-pyvisa-py lxi-tools python3-pymeasure
    chromium chromium-driver python3-selenium
    libavahi-client-dev libavahi-glib-dev libxml2-utils
    avahi-daemon avahi-utils rpcbind dbus-daemon iproute2 systemd
    scdoc man-db groff-base bsdextrautils appstream
)
for option in "$@"; do
    case $option in
    --bench) packages+=(hyperfine jq valgrind) ;;
    --release) packages+=(devscripts libdistro-info-perl) ;;
    *) echo "install-deps: unknown option $option (--bench, --release)" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root, or install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
