#!/usr/bin/env bash
# Runs one libFuzzer target briefly over its seed corpus. The seeds are copied
# so that the run never writes into the source tree.
set -euo pipefail
bin=$1; seeds=$2
secs=${BX_FUZZ_SECONDS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$work/corpus/"; fi
cd "$work"
exec "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "$work/corpus"
