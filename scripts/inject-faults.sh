#!/usr/bin/env bash
# Proves that the receive table catches faults: each patch in tests/faults/
# puts one small fault into a copy of the tree, which is built (Release,
# e2e_test only) and made to run the table's cells that the index names for
# it. A fault is caught when at least one of its cells fails that passes on
# the same tree without any fault (the baseline, run first on every cell the
# index names). A cell that says void (the machine stood still past what a
# check allows) is neither a catch nor a pass: counted apart. Prints a table
# of fault x cells failed.
#
#   scripts/inject-faults.sh [--jobs N] [--build-jobs N] [--only PATTERN] [--work DIR]
#
# tests/faults/index has one line a fault: the patch's name (without
# .patch), then the cells that must catch it, as shell patterns over the
# table's cell names (s<source>_p<plug-in>_u<user>[_v<view>], the numbers of
# the enums in tests/e2e/receive_table.h), or tests of their own as
# test:<program>:<gtest filter> (a program of build/tests, run with that
# filter: it catches the fault when it fails). --only runs the faults whose name
# matches PATTERN (the baseline still runs their cells). DIR (default
# build/faults) holds one copy of the tree and one build folder, used by the
# baseline and by every fault in turn and kept for the next run: each copy
# rebuilds only the files its patch touches and those the one before it
# touched (put back as they are now), so a fault costs a few compiles and a
# link.
#
# Exits 1 when a patch no longer applies, a copy does not build, or a fault
# goes uncaught.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

jobs=4
build_jobs=4
only='*'
work=build/faults
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs="$2"; shift ;;
    --build-jobs) build_jobs="$2"; shift ;;
    --only) only="$2"; shift ;;
    --work) work="$2"; shift ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "inject-faults: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

index=tests/faults/index
[ -f "$index" ] || { echo "inject-faults: $index is missing" >&2; exit 2; }
scripts/install-deps.sh
mkdir -p "$work"
work=$(cd "$work" && pwd)
export QT_QPA_PLATFORM=offscreen VOSTREL_RECEIVE_TABLE=all

# The faults to run, and the cells each names; the test programs they name
# besides the table's.
declare -a faults=()
declare -A globs=()
test_programs=""
while read -r name rest; do
  case "$name" in ''|'#'*) continue ;; esac
  # shellcheck disable=SC2254
  case "$name" in $only) ;; *) continue ;; esac
  [ -f "tests/faults/$name.patch" ] || { echo "inject-faults: tests/faults/$name.patch is missing" >&2; exit 2; }
  faults+=("$name")
  globs[$name]="$rest"
  for g in $rest; do
    case "$g" in test:*) g=${g#test:}; case " $test_programs " in *" ${g%%:*} "*) ;; *) test_programs+=" ${g%%:*}" ;; esac ;; esac
  done
done < "$index"
[ ${#faults[@]} -gt 0 ] || { echo "inject-faults: no fault matches $only" >&2; exit 2; }

# The copy of the tree as it is now (uncommitted changes included), with
# Patch applied when given, built into $work/build; its logs go to Dir.
# Fails when the patch does not apply or the copy does not build.
make_copy() {
  local dir=$1 patch=$2 tree=$work/tree touched=$work/touched
  mkdir -p "$dir"
  # The files git knows or would add, with their times kept, so that the
  # build folder rebuilds only what changed. A file the last patch changed
  # is put back with its old time, older than what was built from it: it
  # is marked changed (as is every file this patch changes, when patched).
  rm -rf "$tree"
  mkdir -p "$tree"
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    tar -C "$root" --null -T - -cf - 2>/dev/null | tar -C "$tree" -xf -
  [ -f "$touched" ] || : > "$touched"
  while read -r f; do [ -e "$tree/$f" ] && touch "$tree/$f"; done < "$touched"
  local changed=""
  if [ -n "$patch" ]; then
    if ! patch -s -p1 -d "$tree" --dry-run < "$patch" >/dev/null 2>&1; then
      echo "does not apply"
      return 1
    fi
    changed=$(sed -n 's|^+++ b/\([^[:space:]]*\).*|\1|p' "$patch")
    # Noted before the build: a run stopped midway leaves the next one to
    # rebuild them.
    [ -z "$changed" ] || echo "$changed" >> "$touched"
    patch -s -p1 -d "$tree" < "$patch" >/dev/null
  fi
  [ -f "$work/build/CMakeCache.txt" ] ||
    cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSTREL_TESTS=ON >"$dir/configure.log" 2>&1 ||
    { echo "does not configure (see $dir/configure.log)"; return 1; }
  nice cmake --build "$work/build" -j "$build_jobs" --target e2e_test $test_programs >"$dir/build.log" 2>&1 ||
    { echo "does not build (see $dir/build.log)"; return 1; }
  # Built: only what this patch changed differs from the tree now.
  printf '%s' "${changed:+$changed$'\n'}" > "$touched"
}

# Runs the cells given on stdin with the copy's test programs; one line a
# cell in Out: "<cell> ok|FAILED|void|n/a|none"; what each cell that did
# not pass said goes to Out.log. A cell test:<program>:<filter> runs that
# program's tests: ok when they pass, FAILED when one fails.
run_cells() {
  local program=$1 out=$2
  : > "$out.log"
  xargs -r -P "$jobs" -I{} sh -c \
    'case "$2" in
       test:*)
         rest=${2#test:}
         if said=$("$(dirname "$1")/${rest%%:*}" --gtest_filter="${rest#*:}" 2>&1); then echo "$2 ok"
         else echo "$2 FAILED"; echo "$said" | grep -a "Failure\|FAILED \]" | head -5 |
              while IFS= read -r l; do echo "CELL $2 | $l"; done >> "$3"; fi
         exit 0 ;;
     esac
     said=$("$1" --gtest_filter="all/receive_table_cell.*/$2" 2>&1 | grep -a "^CELL")
     line=$(echo "$said" | grep -a "^CELL [^ ]" | head -1)
     case "$line" in
       *"| ok |"*) echo "$2 ok" ;;
       *"| n/a |"*) echo "$2 n/a" ;;
       *"| void |"*) echo "$2 void"; echo "$said" >> "$3" ;;
       *"| FAILED |"*) echo "$2 FAILED"; echo "$said" >> "$3" ;;
       *) echo "$2 none"; echo "CELL $2 | gave no result" >> "$3" ;;
     esac' sh "$program" {} "$out.log" > "$out"
}

# The cells of the table, and those each fault names.
echo "inject-faults: building the tree without a fault"
if ! why=$(make_copy "$work/baseline" ""); then
  echo "inject-faults: the tree itself $why" >&2
  exit 1
fi
all_cells=$("$work/build/tests/e2e_test" --gtest_list_tests --gtest_filter='all/receive_table_cell.*' |
            sed -n 's/^  [^ ]*\/\([^ /]*\).*/\1/p')
declare -A cells_of=()
union=$(mktemp)
trap 'rm -f "$union"' EXIT
for f in "${faults[@]}"; do
  list=""
  for g in ${globs[$f]}; do
    case "$g" in test:*) list+="$g " ;; esac
  done
  for cell in $all_cells; do
    for g in ${globs[$f]}; do
      # shellcheck disable=SC2053
      if [[ $cell == $g ]]; then list+="$cell "; break; fi
    done
  done
  [ -n "$list" ] || { echo "inject-faults: $f names no cell of the table" >&2; exit 2; }
  cells_of[$f]=$list
  printf '%s\n' $list >> "$union"
done
sort -u "$union" -o "$union"
echo "inject-faults: the baseline: $(wc -l < "$union") cells, $jobs at a time"
run_cells "$work/build/tests/e2e_test" "$work/baseline/cells" < "$union"
declare -A base=()
while read -r cell state; do base[$cell]=$state; done < "$work/baseline/cells"

status=0
report=$work/report
: > "$report"
for f in "${faults[@]}"; do
  dir=$work/$f
  echo "inject-faults: $f ($(date +%T))"
  if ! why=$(make_copy "$dir" "$root/tests/faults/$f.patch"); then
    printf '%s|%s\n' "$f" "$why" >> "$report"
    status=1
    continue
  fi
  printf '%s\n' ${cells_of[$f]} | run_cells "$work/build/tests/e2e_test" "$dir/cells"
  run=0; failed=0; caught=0; broken=0; voided=0; names=""
  while read -r cell state; do
    run=$((run + 1))
    [ "$state" = void ] && voided=$((voided + 1))
    if [ "$state" = FAILED ] || [ "$state" = none ]; then
      failed=$((failed + 1))
      if [ "${base[$cell]:-}" = ok ]; then caught=$((caught + 1)); names+="$cell "; else broken=$((broken + 1)); fi
    fi
  done < "$dir/cells"
  printf '%s|%d|%d|%d|%d|%d|%s\n' "$f" "$run" "$failed" "$caught" "$broken" "$voided" "$names" >> "$report"
  [ "$caught" -gt 0 ] || status=1
done

echo
printf '%-46s %5s %6s %6s %5s  %s\n' "fault" "cells" "failed" "caught" "void" "cells that caught it"
while IFS='|' read -r f run failed caught broken voided names; do
  if [ -z "${failed:-}" ]; then
    printf '%-46s %s\n' "$f" "PATCH $run"
    continue
  fi
  shown=$(echo $names | tr ' ' '\n' | head -6 | tr '\n' ' ')
  [ "$caught" -gt 6 ] && shown+="..."
  printf '%-46s %5d %6d %6d %5d  %s%s\n' "$f" "$run" "$failed" "$caught" "$voided" "$shown" \
    "$([ "$caught" -gt 0 ] || echo "NOT CAUGHT")"
done < "$report"
base_failed=$(grep -c -v ' ok$\| n/a$\| void$' "$work/baseline/cells" || true)
base_void=$(grep -c ' void$' "$work/baseline/cells" || true)
echo
echo "baseline: $(wc -l < "$work/baseline/cells") cells, $base_failed failed and $base_void void without any fault (not counted as catches):"
{ grep -v ' ok$\| n/a$' "$work/baseline/cells" || true; } | awk '{printf "  %s", $1} END {print ""}'
[ ! -s "$work/baseline/cells.log" ] || sed 's/^/  /' "$work/baseline/cells.log"
caught_count=$(awk -F'|' '$4 != "" && $4 > 0' "$report" | wc -l)
echo "faults: ${#faults[@]}, caught: $caught_count"
exit $status
