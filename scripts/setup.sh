#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; only what is missing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6serialport6-dev
    libgtest-dev libbenchmark-dev
    sqlite3 libsqlite3-dev xvfb xauth poppler-utils fonts-dejavu-core fonts-liberation python3
    clang libclang-rt-14-dev scdoc dpkg-dev mdbtools-dev mdbtools
)
# scripts/package.sh: what makes and checks the Debian package.
if [ "${1:-}" = "--packaging" ]; then
    packages+=(desktop-file-utils appstream lintian)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
