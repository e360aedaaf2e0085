#!/usr/bin/env bash
# Installs the build dependencies, builds Lumora and starts it. Without a
# display it starts under a virtual X server.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${LUMORA_BUILD_DIR:-$root/build}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a "$build/bin/lumora" "$@"
fi
exec "$build/bin/lumora" "$@"
