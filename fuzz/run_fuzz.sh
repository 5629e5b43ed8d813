#!/usr/bin/env bash
# Runs one fuzz target for a bounded time over a scratch copy of its seed corpus. The seed is
# fixed so that a test run explores the same inputs each time; longer runs by hand vary it.
set -eu
target=$1 seeds=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
"$target" -seed=1 -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=65536 \
  -print_final_stats=0 "$work/corpus"
