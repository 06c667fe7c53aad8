#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   BX_SANITIZE=1  build and test with AddressSanitizer + UBSan (build-asan/)
#   BX_FUZZ_SECONDS=N  how long each fuzz target runs (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh

jobs=$(nproc)
build=build
extra=()
if [ "${BX_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  extra+=(-DBX_SANITIZE=ON)
fi

# The fuzz targets need clang's libFuzzer; they build in a tree of their own.
fuzz_args=()
if command -v clang++ >/dev/null 2>&1 && ls fuzz/*/fuzz_*.cpp >/dev/null 2>&1; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBX_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  fuzz_args+=(-DBX_FUZZ_BIN_DIR="$root/build-fuzz/fuzz")
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" "${fuzz_args[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

# Tests get a private HOME and temp dir; nothing they write lands in the user's.
export BX_TEST_HOME
BX_TEST_HOME=$(mktemp -d)
trap 'rm -rf "$BX_TEST_HOME"' EXIT
export HOME="$BX_TEST_HOME/home" XDG_CONFIG_HOME="$BX_TEST_HOME/config" \
       XDG_CACHE_HOME="$BX_TEST_HOME/cache" XDG_DATA_HOME="$BX_TEST_HOME/data" \
       TMPDIR="$BX_TEST_HOME/tmp" TZ=UTC LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$TMPDIR"

log="$BX_TEST_HOME/ctest.log"
set +e
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
# ctest lists skipped cases after its summary; repeat the summary so it is the last line.
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true
exit "$status"
