#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a Debian machine.
# Idempotent: every step checks first and skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

for p in cmake make g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
         wine wine64 xvfb x11-utils locales fonts-wqy-microhei googletest \
         python3 imagemagick nginx-light curl openssl; do
  have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ] || ! have_pkg wine32:i386; then
  $SUDO apt-get update -qq
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
# The 32-bit Wine runs the shipped build where the host can execute 32-bit programs; where it
# cannot (or the package cannot be had) the tests run the 64-bit build, so this may fail.
if ! have_pkg wine32:i386; then
  echo "setup: installing wine32:i386"
  $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null ||
    echo "setup: wine32:i386 could not be installed; only the 64-bit build can be tested here"
fi

# Wine's ANSI code page follows the locale: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "setup: generating zh_CN.UTF-8"
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
echo "setup: ready"
