#!/usr/bin/env bash
# Configures and builds into build/ (quiet unless something fails).
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" && cmake --build build -j2; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "Build failed." >&2
  exit 1
fi
