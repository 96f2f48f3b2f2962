#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the samples' tools need.
# A no-op (no apt-get update) when everything is already present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  zlib1g-dev libpcre2-dev libzip-dev
  libicu-dev libturbojpeg0-dev libpng-dev
  qt6-base-dev
  libchm-dev libchm-bin
  libmspack-dev p7zip-full python3-chm
  fp-utils
  xdg-utils
  python3
  qt6-translations-l10n
  desktop-file-utils appstream
  dpkg-dev file
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

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
