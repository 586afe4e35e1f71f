#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build from its seeds, several at once, and
# fails when any of them finds a fault.
#
#   scripts/fuzz-run.sh BUILD_DIR [libFuzzer flag...]
#
# By default each target makes a short fixed number of executions
# (-runs=2000) from a fixed seed (-seed=1), so a short run finds here what
# it finds anywhere; flags given here come after the target's own and the
# default ones, so they win (say -seed=0 -runs=-1 -max_total_time=600 for a
# long run from a random seed). Environment:
#   VOSTREL_FUZZ_ONLY  names of the targets to run (space-separated), not all;
#   VOSTREL_FUZZ_JOBS  targets run at once (default: the number of cores);
#   VOSTREL_FUZZ_WORK  folder that keeps each target's corpus, findings and
#                      log (default: a temporary one, removed when all pass).
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [libFuzzer flag...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift
manifest="$build/fuzz/fuzz_targets.txt"
if [ ! -f "$manifest" ]; then
  echo "$manifest is missing: configure with -DVOSTREL_FUZZ=ON and build fuzz_targets" >&2
  exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VOSTREL_FUZZ_JOBS:-$(nproc)}
keep_work=1
work=${VOSTREL_FUZZ_WORK:-}
if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/vostrel_fuzz_XXXXXX")
  keep_work=0
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$source_dir/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# One target: its own corpus folder first (libFuzzer adds what it finds to
# the first folder), then the seed folders, which it only reads.
run_one() {
  local name=$1 program=$2 seeds=$3 options=$4
  shift 4
  local dir="$work/$name"
  mkdir -p "$dir/corpus"
  local seed_list=() option_list=()
  [ -n "$seeds" ] && IFS=';' read -r -a seed_list <<<"$seeds"
  [ -n "$options" ] && IFS=';' read -r -a option_list <<<"$options"
  # The outer limit catches a target that hangs before its first input.
  (cd "$dir" && timeout 1200 "$program" -runs=2000 -seed=1 -timeout=60 -rss_limit_mb=4096 \
      "${option_list[@]}" "$@" -artifact_prefix="$dir/" "$dir/corpus" "${seed_list[@]}") \
    >"$dir/log" 2>&1
}

names=()
pids=()
failed=()
finish_one() {
  local i=$1 status=0
  wait "${pids[$i]}" || status=$?
  local name=${names[$i]}
  if [ "$status" -eq 0 ]; then
    echo "fuzz $name: $(grep -E '^Done [0-9]+ runs' "$work/$name/log" || echo done)"
  else
    echo "fuzz $name: FAILED (exit $status); its log, $work/$name/log, ends:"
    tail -n 40 "$work/$name/log" | sed 's/^/    /'
    failed+=("$name")
  fi
}

waiting=0
next_done=0
while IFS= read -r line; do
  [ -z "$line" ] && continue
  rest=$line
  name=${rest%%$'\t'*}
  rest=${rest#*$'\t'}
  program=${rest%%$'\t'*}
  rest=${rest#*$'\t'}
  seeds=${rest%%$'\t'*}
  options=${rest#*$'\t'}
  if [ -n "${VOSTREL_FUZZ_ONLY:-}" ] && [[ " $VOSTREL_FUZZ_ONLY " != *" $name "* ]]; then
    continue
  fi
  if [ "$waiting" -ge "$jobs" ]; then
    finish_one "$next_done"
    next_done=$((next_done + 1))
    waiting=$((waiting - 1))
  fi
  run_one "$name" "$program" "$seeds" "$options" "$@" &
  names+=("$name")
  pids+=($!)
  waiting=$((waiting + 1))
done <"$manifest"
while [ "$next_done" -lt "${#pids[@]}" ]; do
  finish_one "$next_done"
  next_done=$((next_done + 1))
done

if [ ${#names[@]} -eq 0 ]; then
  echo "no fuzz target to run" >&2
  exit 1
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]} (inputs and logs in $work)" >&2
  exit 1
fi
[ "$keep_work" -eq 0 ] && rm -rf "$work"
echo "all ${#names[@]} fuzz targets passed"
