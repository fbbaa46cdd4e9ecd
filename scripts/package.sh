#!/usr/bin/env bash
# Builds the Debian package in build/ (or the folder given in BUILD_DIR), which must be built,
# prints its name, version and dependencies, and fails when a dependency the programs need (the
# window's fonts and the sweep picture's Qt Charts among them) is missing from them, or the udev
# rule or the server's systemd user unit from its files.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
rm -f "$build_dir"/tx4410_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
package=$(ls "$build_dir"/tx4410_*.deb)
dpkg-deb -f "$package" Package Version Depends
depends=$(dpkg-deb -f "$package" Depends)
for needed in libqt6widgets6 libqt6charts6 libqt6svg6 libusb-1.0-0 qt6-qpa-plugins fonts-liberation \
    libqt6network6 libavahi-client3 libavahi-glib1 libqt6sql6 libqt6sql6-sqlite; do
    [[ $depends == *"$needed"* ]] || { echo "package: no dependency on $needed" >&2; exit 1; }
done
files=$(dpkg-deb -c "$package")
[[ $(dpkg-deb -f "$package" Recommends) == *rpcbind*avahi-daemon* ]] \
    || { echo "package: tx4410-server's rpcbind and avahi-daemon not recommended" >&2; exit 1; }
[[ $files == *" ./usr/lib/udev/rules.d/70-tx4410.rules"* ]] \
    || { echo "package: no udev rule in /usr/lib/udev/rules.d" >&2; exit 1; }
[[ $files == *" ./usr/lib/systemd/user/tx4410-server.service"* ]] \
    || { echo "package: no systemd user unit for tx4410-server" >&2; exit 1; }
[[ $files == *" ./usr/lib/systemd/user/tx4410-server@.service"* ]] \
    || { echo "package: no systemd user unit per board (tx4410-server@.service)" >&2; exit 1; }
# The changelog's latest entry is the package's version, and the size is said where it is seen.
version=$(dpkg-deb -f "$package" Version)
latest=$(dpkg-deb --fsys-tarfile "$package" | tar -xO --wildcards './usr/share/doc/tx4410/changelog*.gz' \
    | gzip -dc | head -n 1)
[[ $latest == "tx4410 ($version) "* ]] \
    || { echo "package: version $version, but the changelog begins: $latest" >&2; exit 1; }
echo "Size: $(( $(stat -c %s "$package") / 1024 )) kB packed, $(dpkg-deb -f "$package" Installed-Size) kB installed"
echo "$package"
