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
  # A mirror mid-sync can leave one architecture's security index missing, and then the
  # 32-bit half of a multi-arch pair cannot match the 64-bit half's security update. Wait
  # for the mirror once; then install both halves from the release itself, the security
  # suite pinned below it for this install only.
  pin=/etc/apt/preferences.d/quillet-release-first
  trap '$sudo rm -f "$pin"' EXIT
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for attempt in 1 2 3; do
    "$(dirname "$0")/apt-update.sh"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}" && break
    [ "$attempt" -lt 3 ] || exit 1
    if [ "$attempt" -eq 1 ]; then
      sleep 120
    else
      echo "Installing from $codename itself, $codename-security pinned below it"
      printf 'Package: *\nPin: release n=%s-security\nPin-Priority: 100\n' "$codename" |
        $sudo tee "$pin" >/dev/null
    fi
  done
  $sudo rm -f "$pin"
fi

scripts/enable-32-bit-programs.sh
