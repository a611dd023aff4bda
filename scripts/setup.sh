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
  dpkg-dev file lintian  # the Debian package: its dependencies found, its contents checked
  clang-format           # the format check of the test command
)
# Chinese input: where fcitx5 is the desktop's input method, Qt 6 programs need its Qt 6 frontend.
# (IBus needs nothing more: its Qt 6 plugin comes with libqt6gui6.)
if dpkg-query -W -f='${Status}' fcitx5 2>/dev/null | grep -q 'install ok installed' ||
  [[ "${XMODIFIERS:-} ${QT_IM_MODULE:-} ${GTK_IM_MODULE:-}" == *fcitx* ]] ||
  grep -qs fcitx "${HOME:-/nonexistent}/.xinputrc"; then
  packages+=(fcitx5-frontend-qt6)
fi
# The input method test types pinyin through fcitx5 and IBus on an X server of its own. An input
# method once installed may become the desktop's choice at the next login, so these come only on
# machines without a desktop session (build and CI machines) or when YUNSHAN_IM_TEST=1 asks.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "${YUNSHAN_IM_TEST:-0}" = 1 ]; then
  packages+=(fcitx5 fcitx5-chinese-addons fcitx5-frontend-qt6 ibus ibus-libpinyin xdotool dbus-daemon)
fi
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
