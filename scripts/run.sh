#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
app=build/Brindlebox/brindlebox
if [ ! -x "$app" ]; then
  echo "Everything built. The application itself is not there yet."
  exit 0
fi
exec "$app" "$@"
