#!/usr/bin/env bash
# Installs what is missing, builds the program (Release) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target vostrel
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Vostrel under xvfb-run (a virtual X server)."
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/release/vostrel "$@"
fi
exec build/release/vostrel "$@"
