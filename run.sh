#!/usr/bin/env bash
# Installs what is missing, builds, and runs the update against the built-in
# simulator: in a window when there is a display, headless otherwise.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/deps.sh
bash tools/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/qvxupdate --simulate "$@"
else
  exec ./build/qvxupdate --cli --yes --simulate "$@"
fi
