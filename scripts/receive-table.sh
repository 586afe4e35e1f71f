#!/usr/bin/env bash
# Runs the table of end-to-end cases of the receive way: every source (serial
# ports, the Ethernet port's roles) under a paced flood, crossed with what a
# plug-in does meanwhile and what the user does meanwhile, and prints one line
# a cell: whether every record each device wrote reached the list, the output
# files, the receive events or a Recv once and in order (or was lost around an
# action that loses data by design), stamped with its read time, what waited,
# how long the window went without answering and how long the close took; a
# cell that means nothing for its source says n/a, and one that could not
# decide because the machine gave the test no turn for longer than a check
# allows says void (and why): counted apart, neither a pass nor a failure.
# The checks are those of the test receive_table_cell
# (tests/e2e/receive_table/, its oracle in check_*.cpp); the test suite runs a
# cover of the table (every pair of a source, a plug-in action and a user
# action), this script the whole of it. scripts/inject-faults.sh proves that
# the checks catch faults.
#
#   scripts/receive-table.sh [--cover] [--jobs N] [--build DIR] [--no-build]
#
# --cover runs only the cells the test suite runs. DIR is a build folder
# configured with -DVOSTREL_TESTS=ON (default build/table, built Release).
# Exits 1 when a cell failed.
set -euo pipefail
cd "$(dirname "$0")/.."

set_name=all
jobs=$(nproc)
build=build/table
do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --cover) set_name=cover ;;
    --jobs) jobs="$2"; shift ;;
    --build) build="$2"; shift ;;
    --no-build) do_build=0 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "receive-table: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

scripts/install-deps.sh
if [ "$do_build" -eq 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSTREL_TESTS=ON >/dev/null
  cmake --build "$build" --target e2e_test >/dev/null
fi
test_program="$build/tests/e2e_test"
[ -x "$test_program" ] || { echo "receive-table: $test_program is missing" >&2; exit 2; }

export QT_QPA_PLATFORM=offscreen VOSTREL_RECEIVE_TABLE=all
cells=$("$test_program" --gtest_list_tests --gtest_filter="$set_name/receive_table_cell.*" |
        sed -n 's/^  [^ ]*\/\([^ /]*\).*/\1/p')
total=$(echo "$cells" | wc -l)
echo "receive table: $total cells ($set_name), $jobs at a time"

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
echo "$cells" | xargs -P "$jobs" -I{} sh -c \
  '"$1" --gtest_filter="$2/receive_table_cell.*/$3" 2>&1 | grep "^CELL" > "$4/$3" || true
   [ -s "$4/$3" ] || echo "CELL $3 | gave no result (the run ended early)" > "$4/$3"
   sed -n 1p "$4/$3"' \
  sh "$test_program" "$set_name" {} "$results"

failed=$(cat "$results"/* | grep -c '| FAILED |' || true)
voids=$(cat "$results"/* | grep -c '| void |' || true)
na=$(cat "$results"/* | grep -c '| n/a |' || true)
missing=$(cat "$results"/* | grep -c 'gave no result' || true)
echo
echo "failures:"
grep -l -e '| FAILED |' -e 'gave no result' "$results"/* | xargs -r cat | grep '^CELL' || echo "  none"
echo "void (undecided, the machine stood still):"
grep -l -e '| void |' "$results"/* | xargs -r cat | grep '^CELL' || echo "  none"
echo "receive table: $total cells, $failed failed, $voids void, $na n/a, $missing gave no result"
[ "$failed" -eq 0 ] && [ "$missing" -eq 0 ]
