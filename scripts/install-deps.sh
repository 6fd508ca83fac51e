#!/bin/bash
# Installs what the project needs on Debian 12 (run as root). Safe to run twice:
# it asks apt only for packages that are missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5network5 libqt5widgets5
  libturbojpeg0-dev
  clang libclang-rt-14-dev
  xvfb xauth
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "install-deps: missing packages (${missing[*]}) and not root" >&2; exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine has no package lists; refresh them once when an install
# cannot find what it needs.
if ! $SUDO apt-get install -y -q "${missing[@]}"; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q "${missing[@]}"
fi
