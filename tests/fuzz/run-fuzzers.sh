#!/usr/bin/env bash
# Builds the fuzz targets in build/fuzz, checks the kept regression inputs, then fuzzes each
# target for FUZZ_SECONDS seconds (default 60), starting from the seed corpus in tests/fuzz/corpus.
# New inputs go to build/fuzz/corpus/<target>, crashing ones to build/fuzz/artifacts/<target>.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/fuzz
build=$root/build/fuzz
seconds=${FUZZ_SECONDS:-60}

mkdir -p "$build"
if ! { cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ &&
  cmake --build "$build" -j "$(nproc)" --target image_trailer_fuzzer zip_reader_fuzzer; } \
  >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  exit 1
fi

# The readers take paths: every input is written to a file, on a memory file system when possible.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$shm/torvane-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TORVANE_FUZZ_SCRATCH=$scratch

mapfile -t regressions < <(find "$here/regressions" -type f ! -name README -print 2>/dev/null | sort)
status=0
for target in image_trailer zip_reader; do
  fuzzer=$build/${target}_fuzzer
  log=$build/$target.log
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $target: ${#regressions[@]} regression inputs"
    if ! "$fuzzer" "${regressions[@]}" >"$log" 2>&1; then
      tail -n 40 "$log"
      status=1
      continue
    fi
  fi
  echo "== $target: fuzzing for $seconds s"
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -dict="$here/zip.dict" -artifact_prefix="$build/artifacts/$target/" \
      "$build/corpus/$target" "$here/corpus/$target" >"$log" 2>&1; then
    grep -E '^(stat::(number_of_executed_units|average_exec_per_sec|new_units_added)|Done )' "$log" ||
      true
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
  else
    tail -n 60 "$log"
    echo "$target: found a fault; the input is in $build/artifacts/$target/ (full log: $log)"
    status=1
  fi
done
exit $status
