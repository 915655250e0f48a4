#!/usr/bin/env bash
# Installs what Sejfko needs to build, test and benchmark on Debian 12, and generates the
# cs_CZ.UTF-8 locale. Idempotent: installs only what is missing. With --windows also the
# MinGW-w64 cross compiler, zlib for it and Wine, for scripts/build-windows.sh and
# scripts/test-windows.sh.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git clang-format
  clang libclang-rt-14-dev llvm
  zlib1g-dev libdeflate-dev nlohmann-json3-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  locales
  python3 python3-pyftpdlib python3-openssl openssl vsftpd
  zip unzip 7zip pigz curl
  xvfb trayer imagemagick xdotool
  dbus-daemon
  util-linux findutils
)
if [ "${1:-}" = "--windows" ]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 googletest)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

need_locale=0
if ! locale -a 2>/dev/null | grep -qiE '^cs_CZ\.utf-?8$'; then
  need_locale=1
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_locale" -eq 0 ]; then
  echo "setup: všechny balíčky i locale cs_CZ.UTF-8 jsou již nainstalovány."
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: spusťte jako root, nebo nainstalujte ručně:" >&2
  [ "${#missing[@]}" -gt 0 ] && echo "  apt-get install -y ${missing[*]}" >&2
  [ "$need_locale" -eq 1 ] && echo "  a vygenerujte locale: echo 'cs_CZ.UTF-8 UTF-8' >> /etc/locale.gen && locale-gen" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: instaluji ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qiE '^cs_CZ\.utf-?8$'; then
  if ! grep -qE '^cs_CZ\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'cs_CZ.UTF-8 UTF-8' >> /etc/locale.gen
  fi
  locale-gen cs_CZ.UTF-8 >/dev/null 2>&1 || locale-gen >/dev/null
fi
echo "setup: hotovo."
