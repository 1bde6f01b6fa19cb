#!/usr/bin/env bash
# 32-bit Wine is a 32-bit Linux program. Some kernels, virtual machines among them, run no
# 32-bit code at all; there it runs under QEMU's user-mode emulator, registered with
# binfmt_misc. QEMU before 8.1 ignores the no-replace mappings with which Wine reserves its
# address space, and each Wine start then takes minutes, so Debian 12 gets QEMU from its
# backports.
set -euo pipefail

wine_loader=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

[ -e "$binfmt/qemu-i386" ] || ! "$wine_loader" --version >/dev/null 2>&1 || exit 0

qemu_version() { dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true; }
recent_enough() { [ -n "$1" ] && dpkg --compare-versions "$1" ge 1:8.1; }

changed=0
if ! recent_enough "$(qemu_version)"; then
  "$(dirname "$0")/apt-update.sh"
  candidate=$(apt-cache policy qemu-user-static | awk '/Candidate:/ {print $2}')
  target=()
  if ! recent_enough "$candidate"; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    # The backports suite lives where the release itself comes from.
    mirror=$(grep -hoE '^URIs: *[^ ]+/debian/?$' /etc/apt/sources.list.d/*.sources 2>/dev/null |
             awk '{print $2}' | head -n 1)
    [ -n "$mirror" ] || mirror=$(grep -hoE '^deb +[^ ]+/debian/? ' /etc/apt/sources.list 2>/dev/null |
                                 awk '{print $2}' | head -n 1)
    echo "deb $mirror $codename-backports main" |
      $sudo tee "/etc/apt/sources.list.d/$codename-backports.list" >/dev/null
    "$(dirname "$0")/apt-update.sh"
    target=(-t "$codename-backports")
  fi
  echo "Installing qemu-user-static to run 32-bit programs"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${target[@]}" \
    qemu-user-static
  changed=1
fi

[ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
if [ -e "$binfmt/qemu-i386" ] && [ $changed -eq 1 ]; then
  # The F flag keeps the interpreter that was registered open: register the new one.
  echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" |
    $sudo tee "$binfmt/register" >/dev/null
fi

"$wine_loader" --version >/dev/null
