#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quillet need, when any is missing,
# and makes sure 32-bit Wine can run.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev libsqlite3-dev sqlite3 time libssl-dev
  g++-mingw-w64-i686 googletest wine wine32:i386
  clang-14 libclang-rt-14-dev nlohmann-json3-dev libcli11-dev libtomlplusplus-dev clang-format-14 clang-tidy-14
  pkgconf python3-venv python3-pytest python3-setuptools python3-wheel ansible-core shellcheck
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  case " ${missing[*]} " in
    *:i386*) $sudo dpkg --add-architecture i386 ;;
  esac
  "$(dirname "$0")/apt-update.sh"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

scripts/enable-32-bit-programs.sh
