#!/usr/bin/env bash
# Installs every Debian package that building, running, testing and benchmarking Quillmark needs.
# Used by both README commands and by .ci/run, so the list lives here only.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qtbase5-dev-tools
  zlib1g-dev
  libisal-dev  # ISA-L igzip: the fast deflate of .xlsx sheets
  libxlsxwriter-dev  # only for the benchmark's speed floor (bench/)
  libgsf-1-dev
  libquazip1-qt5-dev
  libcurl4-openssl-dev
  python3 python3-openpyxl python3-xlrd
  time
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
