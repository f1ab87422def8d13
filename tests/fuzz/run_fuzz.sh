#!/usr/bin/env bash
# Runs one fuzz target for a bounded time over its seed corpus. New inputs and any crash go to
# a work directory in the build tree; the seeds are only read.
# usage: run_fuzz.sh TARGET SEED_DIR WORK_DIR SECONDS
set -euo pipefail
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus"
exec "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
	-print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds"
