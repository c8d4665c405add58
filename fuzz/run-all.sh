#!/usr/bin/env bash
# Runs every fuzz target found in the build folder for the given number of seconds on its seed corpus.
# Usage: fuzz/run-all.sh BUILD_DIR SECONDS
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$1
seconds=${2:-60}
status=0
for target in "$bin"/fuzz_*; do
    [[ -x "$target" && -f "$target" ]] || continue
    name=$(basename "$target")
    seeds="$here/corpus/$name"
    work=$(mktemp -d)
    echo "== $name: ${seconds}s"
    # A small allocation ceiling catches a reader that allocates what the input merely claims.
    if ! "$target" -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=1024 \
        -timeout=10 -print_final_stats=1 "$work" "$seeds"; then
        status=1
    fi
    rm -rf "$work"
done
exit $status
