#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs to build, run and test.
# Only what is missing is installed; sudo is used when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake python3
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-serialport-dev qt6-svg-dev
  qt6-translations-l10n qt6-qpa-plugins
  libsqlite3-dev libpq-dev libsodium-dev pkg-config
  iproute2
  libqt6sql6-psql postgresql-15
  clang libclang-rt-14-dev
  dpkg-dev desktop-file-utils file librsvg2-bin
  fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Instalando: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
