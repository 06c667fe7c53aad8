#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and benchmark.
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev ccache
  # core
  libicu-dev libssl-dev nlohmann-json3-dev openssl ca-certificates libgumbo-dev
  # application and kit
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-svg-dev libqt6svg6 qt6-pdf-dev libsecret-1-dev
  bootstrap-icons
  libarchive-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  # tests
  libgtest-dev libgmock-dev libbenchmark-dev dovecot-imapd dovecot-core
  xvfb xauth gnome-keyring dbus dbus-x11 ffmpeg python3 libpython3.11-testsuite
  # key presses into the real application under Xvfb (the update end-to-end test)
  xdotool
  # fonts the views draw with under Xvfb: without a monospace face that has
  # Latin glyphs, monospaced fields (the release confirmation) draw boxes
  fonts-dejavu-core fonts-noto-mono
  # benchmark peers (never linked into the product)
  isync libgmime-3.0-dev notmuch libsimdjson-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
