#!/usr/bin/env bash
# Installs the build dependencies, builds everything and runs the whole test
# suite. With --sanitize the build uses AddressSanitizer and UBSan (in
# build-asan/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  export LUMORA_BUILD_DIR="${LUMORA_BUILD_DIR:-$root/build-asan}"
  cmake_args+=(-DLUMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
fi
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "${cmake_args[@]}"
build="${LUMORA_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
