#!/usr/bin/env bash
# Installs every Debian package the build and the program need; with --tests
# also what the test suites use to read catalogues back and cross-check them.
# A no-op (no apt-get update) when everything is already present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev
  libgtest-dev
  zlib1g-dev libpcre2-dev libzip-dev
  libcli11-dev nlohmann-json3-dev
  libicu-dev libturbojpeg0-dev libpng-dev
  qt6-base-dev
  libchm-dev libchm-bin
  libmspack-dev
  xdg-utils
  python3
  qt6-translations-l10n
  desktop-file-utils appstream
  dpkg-dev file
)

# Readers and the optional chmcmd engine, for the cross-checks of the tests;
# a headless browser that loads the web pages.
if [ "${1:-}" = "--tests" ]; then
  PACKAGES+=(p7zip-full python3-chm fp-utils chromium)
fi

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
