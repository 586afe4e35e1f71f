#!/usr/bin/env bash
# Measures how the program copes with a receive flood, as a user would see
# it: builds the Release program, starts it on a virtual X server with a
# pseudo-terminal as COM7 (HEX format, millisecond time stamps), floods the
# port for a while at the pseudo-terminal's limit and then at 1 MB/s in 2 KB
# writes, and prints the MB/s taken, CPU, resident memory growth per MB, the
# window's answers to the window manager's ping (every 250 ms) and how long
# keys typed into the transmit box take to show.
#
#   scripts/flood-bench.sh [--polling MS] [--runs N] [--seconds S] [--only flood|paced]
#                          [--recv-loop onreceive|onload] [--no-build] [--verbose]
#
# --recv-loop loads a plug-in that reads the port itself, looping
# Recv(65536, 20, S) in its ONRECEIVE (from the first chunk on) or in its
# ONLOAD: MB/s taken is then what the loop reads.
# MS is the polling delay (1, 5, 50, 200, 500 or 1000; default 50). The
# figures depend on the machine and its load: compare runs made on the same
# machine. Not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=1
probe_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --polling|--runs|--seconds|--only|--recv-loop) probe_args+=("$1" "$2"); shift ;;
    --verbose) probe_args+=("$1") ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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

exec xvfb-run -a -s "-screen 0 1280x1024x24" "$probe" --program "$work/vostrel" "${probe_args[@]}"
