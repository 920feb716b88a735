#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
bash tools/deps.sh
bash tools/build.sh
export QT_QPA_PLATFORM=offscreen
# Tests never write parameter backups into the real data folder.
export QVX_BACKUP_DIR="${QVX_BACKUP_DIR:-$(mktemp -d)}"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
ctest --test-dir build --output-on-failure -j2
