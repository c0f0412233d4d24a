#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS seconds (default 60) on a scratch
# copy of its seed corpus. Exits non-zero on any finding; the crashing input is kept in the log dir.
set -euo pipefail

seconds="${1:-60}"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

scripts/install-deps clang
cmake --preset fuzz
cmake --build --preset fuzz

work="$(mktemp -d "${TMPDIR:-/tmp}/pathprobe-fuzz.XXXXXX")"
echo "scratch corpus and findings in $work"

status=0
for target in path_fuzz tree_fuzz; do
    seeds="fuzz/corpus/${target%_fuzz}"
    mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
    cp -R "$seeds/." "$work/$target/corpus/"
    echo "== $target for ${seconds}s"
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" \
        2>&1 | tee "$work/$target/log"; then
        echo "$target: finding, see $work/$target/artifacts and $work/$target/log" >&2
        status=1
    fi
done
exit "$status"
