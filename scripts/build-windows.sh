#!/usr/bin/env bash
# Cross-builds the core, zipengine.dll, sejfko-cli.exe and the core's tests for 64-bit Windows
# with MinGW-w64 into build-windows/ (or $SEJFKO_WINDOWS_BUILD_DIR); extra arguments go to cmake.
# Needs `bash scripts/setup.sh --windows`.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${SEJFKO_WINDOWS_BUILD_DIR:-build-windows}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="${WINEPREFIX:-$PWD/$build_dir/wine}"
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="${SEJFKO_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
