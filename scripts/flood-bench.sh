#!/usr/bin/env bash
# Measures how the program copes with a receive flood, as a user would see
# it: builds the Release program, starts it on a virtual X server with a
# pseudo-terminal as COM7 (HEX or ASCII, millisecond time stamps), floods the
# port for a while at the pseudo-terminal's limit and then at 1 MB/s in 2 KB
# writes, and prints the MB/s taken, CPU, resident memory growth per MB, the
# window's answers to the window manager's ping (every 250 ms) and how long
# keys typed into the transmit box take to show.
#
#   scripts/flood-bench.sh [--polling MS] [--format hex|ascii] [--runs N] [--seconds S]
#                          [--only flood|paced] [--recv-loop onreceive|onload]
#                          [--baseline REV] [--no-build] [--verbose]
#
# MS is the polling delay (1, 5, 50, 200, 500 or 1000; default 50). The data
# format is HEX unless --format ascii. With more than one run, each program's
# median figures follow, and the most MB/s any of its runs took.
# --recv-loop loads a plug-in that reads the port itself, looping
# Recv(65536, 20, S) in its ONRECEIVE (from the first chunk on) or in its
# ONLOAD: MB/s taken is then what the loop reads.
# --baseline REV compares with another revision (a commit, branch or tag):
# it is checked out in a worktree of its own, build/flood-bench/baseline-tree,
# and built there (Release); then the two programs run in turns, N runs of
# each (baseline first in odd rounds, this tree's program first in even
# ones), so that both meet the same load of the machine. Each run is printed
# with the program it was, and the medians of each program at the end.
# --no-build runs the programs built last (for --baseline, that of the same
# revision).
# The figures depend on the machine and its load: compare runs made on the
# same machine, at best in turns with --baseline. Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=1
baseline=""
probe_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --polling|--runs|--seconds|--only|--recv-loop|--format) probe_args+=("$1" "$2"); shift ;;
    --baseline) baseline=$2; shift ;;
    --verbose) probe_args+=("$1") ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "flood-bench: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

scripts/install-deps.sh
if [ "$build" -eq 1 ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release --target vostrel -j4 >/dev/null
fi
[ -x build/release/vostrel ] || { echo "flood-bench: build/release/vostrel is missing" >&2; exit 2; }

work="$root/build/flood-bench"
mkdir -p "$work"
probe="$work/flood-probe"
if [ ! -x "$probe" ] || [ scripts/flood-probe.cpp -nt "$probe" ]; then
  g++ -O2 -std=c++20 -Wall -Wextra -o "$probe" scripts/flood-probe.cpp -lX11 -ldl -pthread
fi

# The program reads and writes vostrel.ini beside itself: run a copy of it in
# a folder of its own, so the developer's settings stay untouched.
cp build/release/vostrel "$work/vostrel"

if [ -n "$baseline" ]; then
  rev=$(git rev-parse --verify --quiet "$baseline^{commit}") ||
    { echo "flood-bench: $baseline names no commit" >&2; exit 2; }
  tree="$work/baseline-tree"
  mkdir -p "$work/baseline"
  if [ "$build" -eq 1 ]; then
    git worktree prune
    if [ -e "$tree/.git" ]; then
      git -C "$tree" checkout -q --force --detach "$rev"
    else
      git worktree add -q --detach "$tree" "$rev"
    fi
    cmake -S "$tree" -B "$tree/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$tree/build/release" --target vostrel -j4 >/dev/null
    echo "$rev" >"$work/baseline/revision"
  elif [ "$(cat "$work/baseline/revision" 2>/dev/null)" != "$rev" ]; then
    echo "flood-bench: no baseline of $baseline was built; run without --no-build" >&2
    exit 2
  fi
  cp "$tree/build/release/vostrel" "$work/baseline/vostrel"
  echo "Baseline: $(git log -1 --format='%h %s' "$rev" | cut -c1-100)"
  probe_args+=(--baseline "$work/baseline/vostrel")
fi

exec xvfb-run -a -s "-screen 0 1280x1024x24" "$probe" --program "$work/vostrel" "${probe_args[@]}"
