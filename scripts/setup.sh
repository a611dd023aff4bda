#!/usr/bin/env bash
# Installs what the build, the tests and the screenshots need on Debian 12; only what is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
  libsqlite3-dev zlib1g-dev libjpeg62-turbo-dev libcurl4-openssl-dev
  libgtest-dev libbenchmark-dev libssl-dev openssl
  fonts-wqy-microhei xvfb xauth poppler-utils zip unzip apache2 sqlite3
  libqt6svg6
  desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi
