#!/bin/sh
# Installs what building and testing Velmora needs on Debian 12; does nothing when all is there.
set -eu
export DEBIAN_FRONTEND=noninteractive

PKGS="g++ cmake make python3 googletest clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 xvfb xauth x11-utils fonts-wqy-microhei fonts-wine imagemagick gnuplot-nox nsis wixl zip unzip"
[ -n "${VELMORA_EXTRA_PKGS:-}" ] && PKGS="$PKGS $VELMORA_EXTRA_PKGS"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
here="$(cd "$(dirname "$0")" && pwd)"
# Where the kernel cannot execute 32-bit x86 code, QEMU's user-mode emulator is
# registered for it (as root; otherwise it says why and the stand-in is used).
if [ -z "$missing" ]; then
    "$here/i386-emulation" setup
    exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "setup: installing$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
"$here/i386-emulation" setup
