#!/usr/bin/env bash
# The cost of installing all or nothing: sfx.exe -Y unpacks into its staging folder and moves
# every file into place. Times a fresh install of the extraction corpus and an upgrade over an
# install of the same corpus (every file replaced), and reads sfx.exe's peak working set.
#   staging-bench.sh DIST WIN_BUILD HOST_BUILD WORK_DIR WINE_ROOT [REFERENCE_SFX]
# REFERENCE_SFX, a stub built from an earlier commit (one that wrote each entry straight into
# place), gives the fresh install's reference; without it that row has none. run-bench.sh runs
# this last; on its own it runs only these rows.
set -uo pipefail
if [ $# -lt 5 ]; then
  echo "usage: $0 DIST WIN_BUILD HOST_BUILD WORK_DIR WINE_ROOT [REFERENCE_SFX]" >&2
  exit 2
fi
dist=$(realpath "$1") win=$(realpath "$2") host=$(realpath "$3")
mkdir -p "$4"
work=$(realpath "$4") wine_root=$(realpath -m "$5") reference_sfx=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../tests/wine-run
run_bench=$win/bench/run-bench.exe
corpus_tool=$host/bench/bench-corpus
pack=$dist/pack
for file in "$run_bench" "$corpus_tool" "$pack" "$dist/sfx.exe"; do
  [ -f "$file" ] || { echo "staging-bench: missing $file (run make dist first)" >&2; exit 1; }
done
inputs=$work/staging-inputs results=$work/staging-results.txt
out=$work
runs=5
failed=0
: >"$results"
stop_wine() { WINEPREFIX=$wine_root/prefix timeout 30 wineserver -k >/dev/null 2>&1 || true; }
clean() { rm -rf "$inputs" "$work/staging-out"; [ "$out" = "$work" ] || rm -rf "$out"; }
trap 'stop_wine; clean' EXIT
clean
mkdir -p "$inputs"
say() { printf '%s\n' "$*"; }
wine_call() {
  local limit=$1 log
  shift
  log=$(mktemp)
  WINE_RUN_TIMEOUT=$limit "$wine_run" "$wine_root" "$@" </dev/null >"$log" 2>&1
  local status=$?
  sed -i 's/\r$//' "$log"
  grep -v '^result ' "$log" | grep -v '^wine: Read access denied' | sed 's/^/    /'
  grep '^result ' "$log" >>"$results"
  rm -f "$log"
  [ $status -eq 0 ] || { say "    (failed: exit code $status)"; failed=1; }
  return $status
}
get() { grep "^result $1 " "$results" | tail -1 | cut -d' ' -f3-; }
median() {
  tr ' ' '\n' | grep . | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) exit; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
number() { [[ ${1:-} =~ ^-?[0-9]+(\.[0-9]+)?$ ]]; }
mib() { number "${1:-}" && calc '%.1f MiB' "$1 / 1048576" || printf 'n/a'; }
seconds() { number "${1:-}" && calc '%.3f s' "$1" || printf 'n/a'; }
ratio() { number "${1:-}" && number "${2:-}" && calc '%.2fx' "$1 / $2" || printf 'n/a'; }
verdict() { number "${1:-}" && awk "BEGIN { print ($1 <= $2) ? \"yes\" : \"NO\" }" || printf 'n/a'; }
verdict_ratio() { number "${1:-}" && number "${2:-}" && verdict "$(calc '%.6f' "$1 / $2")" "$3" || printf 'n/a'; }
row() { printf '%-44s %-14s %-22s %-10s %-12s %s\n' "$@"; }

say "6. Installing all or nothing: staging, moving into place, upgrading"
corpus_log=$("$corpus_tool" debian "$inputs/corpus")
corpus_bytes=$(sed -n 's/^bench-corpus: [0-9]* files, \([0-9]*\) bytes.*/\1/p' <<<"$corpus_log")
if [ "${corpus_bytes:-0}" -lt $((300 * 1024 * 1024)) ]; then
  rm -rf "$inputs/corpus"
  corpus_log=$("$corpus_tool" suite "$inputs/corpus")
  corpus_bytes=$(sed -n 's/^bench-corpus: [0-9]* files, \([0-9]*\) bytes.*/\1/p' <<<"$corpus_log")
fi
sed 's/^/    /' <<<"$corpus_log"
# In memory where there is room for the install, its staging and a spare (as section 2).
memory_folder=/dev/shm/torvane-staging-bench-$$
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
  [ "$(df -B1 --output=avail /dev/shm | tail -1)" -gt $((4 * ${corpus_bytes:-0})) ] &&
  mkdir -p "$memory_folder"; then
  out=$memory_folder out_kind="memory (tmpfs)"
else
  out_kind="the build disk"
fi
"$pack" archive --stub "$dist/sfx.exe" --from "$inputs/corpus" --out "$inputs/corpus.payload" \
  >/dev/null || { echo "staging-bench: cannot pack the corpus" >&2; exit 1; }
if [ -n "$reference_sfx" ]; then
  "$pack" archive --stub "$reference_sfx" --from "$inputs/corpus" \
    --out "$inputs/reference.payload" >/dev/null || reference_sfx=
fi
rm -rf "$inputs/corpus"
# Alternating, so that drift on the machine touches each alike.
for run in $(seq $runs); do
  if [ -n "$reference_sfx" ]; then
    sync
    wine_call 600 "$run_bench" extract --payload "$inputs/reference.payload" \
      --into "$out/staging-out" --runs 1 --key reference_fresh_$run
  fi
  sync
  wine_call 600 "$run_bench" extract --payload "$inputs/corpus.payload" --into "$out/staging-out" \
    --runs 1 --key staged_fresh_$run
  sync
  wine_call 900 "$run_bench" upgrade --payload "$inputs/corpus.payload" --into "$out/staging-out" \
    --runs 1 --key staged_upgrade_$run
done
rm -rf "$out/staging-out"
stop_wine

figures() { for run in $(seq $runs); do get ${1}_${run}_$2; done | xargs; }
fresh=$(figures staged_fresh seconds | median)
reference=$(figures reference_fresh seconds | median)
upgrade=$(figures staged_upgrade seconds | median)
peak=$(figures staged_upgrade peak_sampled | tr ' ' '\n' | sort -g | tail -1)
say ""
say "6. Installing all or nothing, the corpus (${corpus_bytes:-?} bytes), median of $runs runs each,"
say "   alternating, into $out_kind"
row "Figure" "This program" "Reference" "Ratio" "Target" "Met"
row "Fresh install, staged and moved" "$(seconds "$fresh")" \
  "$(seconds "$reference") unstaged" "$(ratio "$fresh" "$reference")" "<= 1.10x" \
  "$(verdict_ratio "$fresh" "$reference" 1.10)"
row "Upgrade over the same corpus" "$(seconds "$upgrade")" "$(seconds "$fresh") fresh" \
  "$(ratio "$upgrade" "$fresh")" "<= 1.50x" "$(verdict_ratio "$upgrade" "$fresh" 1.50)"
row "Peak working set of sfx.exe, upgrade" "$(mib "$peak")" "-" "-" "<= 64 MiB" \
  "$(verdict "$peak" 67108864)"
say "   Every run: fresh $(figures staged_fresh seconds) s; upgrade $(figures staged_upgrade seconds) s;"
say "   unstaged reference ${reference_sfx:-(none given)}: $(figures reference_fresh seconds) s."
exit $failed
