#!/usr/bin/env bash
# Configures and builds Lumora in build/ (or $LUMORA_BUILD_DIR) with every core.
# Extra arguments go to the CMake configure step, e.g. -DLUMORA_SANITIZE=ON.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMORA_BUILD_DIR:-$root/build}"
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" "$@"
cmake --build "$build" --parallel "$(nproc)"
