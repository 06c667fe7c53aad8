#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
exec build/Brindlebox/brindlebox "$@"
