#!/usr/bin/env bash
# Runs the test suite as CI does (the sanitizer test build of ./test.sh,
# without the fuzz part) several times on a machine kept busy, so that a
# test that fails a correct program only because its machine is slow shows
# up here rather than in CI: beside each run stand twice as many busy loops
# as there are processors, started and ended by this script. Then prints,
# for every test that failed or was void in some run, how often it ran,
# failed and was void (a void test skipped itself because the machine kept
# its processes from running: it could not judge, and neither passed nor
# failed), and the totals, keeping each run's ctest output and JUnit file.
#
#   scripts/ci-under-load.sh [RUNS] [--loops N] [--jobs N] [--no-build]
#                            [--keep DIR] [-- CTEST_ARGS...]
#
# RUNS defaults to 5. --loops sets the busy loops (default twice the
# processors, 0 for none); --jobs the tests ctest runs at once (default the
# processors, as ./test.sh does); --no-build uses build/test as it is;
# --keep keeps the runs' output in DIR (default a temporary folder, removed
# when no run failed). Arguments after -- go to ctest (-R pattern, ...).
# Exits 1 when a test failed in any run.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
loops=$(( $(nproc) * 2 ))
jobs=$(nproc)
do_build=1
keep=""
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --loops) loops="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    --no-build) do_build=0 ;;
    --keep) keep="$2"; shift ;;
    --) shift; ctest_args=("$@"); break ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) runs="$1" ;;
    *) echo "ci-under-load: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$do_build" -eq 1 ]; then
  scripts/install-deps.sh
  cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVOSTREL_TESTS=ON -DVOSTREL_SANITIZE=ON >/dev/null
  cmake --build build/test
fi
[ -f build/test/CTestTestfile.cmake ] || { echo "ci-under-load: build/test is not built" >&2; exit 2; }

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  work=$(cd "$keep" && pwd)
else
  work=$(mktemp -d)
fi
busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
trap 'stop_busy' EXIT

echo "ci-under-load: $runs runs of ctest -j$jobs beside $loops busy loops; output in $work"
for run in $(seq 1 "$runs"); do
  for _ in $(seq 1 "$loops"); do
    yes >/dev/null &
    busy+=("$!")
  done
  start=$(date +%s)
  status=0
  (
    cd build/test
    export QT_QPA_PLATFORM=offscreen
    ctest -j"$jobs" --output-on-failure --output-junit "$work/run$run.xml" "${ctest_args[@]}"
  ) >"$work/run$run.log" 2>&1 || status=$?
  stop_busy
  echo "run $run: ctest exited $status after $(( $(date +%s) - start )) s; $(grep -E '^[0-9]+% tests passed' "$work/run$run.log" || echo 'no summary')"
done

set +e
python3 - "$work" "$runs" <<'EOF'
import sys, glob, collections
import xml.etree.ElementTree as ET
work, runs = sys.argv[1], int(sys.argv[2])
seen = collections.Counter(); failed = collections.Counter(); void = collections.Counter()
skipped = collections.Counter(); why = {}
for path in sorted(glob.glob(f"{work}/run*.xml")):
    for case in ET.parse(path).getroot().iter("testcase"):
        name = case.get("name")
        seen[name] += 1
        out = "".join(e.text or "" for e in case.iter("system-out"))
        if case.find("failure") is not None or case.get("status") == "fail":
            failed[name] += 1
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            at = out.find("void: ")
            if at >= 0:
                void[name] += 1
                why[name] = out[at:].splitlines()[0][:160]
            else:
                skipped[name] += 1
listed = sorted(set(failed) | set(void))
print()
print(f"{'test':<100} {'runs':>4} {'failed':>6} {'void':>4}")
for name in listed:
    print(f"{name:<100} {seen[name]:>4} {failed[name]:>6} {void[name]:>4}")
    if name in why:
        print(f"    last void: {why[name]}")
if not listed:
    print("(no test failed or was void)")
files = len(glob.glob(f"{work}/run*.xml"))
print(f"\ntotals: {files} of {runs} runs, {sum(seen.values())} test runs, {sum(failed.values())} failed, "
      f"{sum(void.values())} void, {sum(skipped.values())} skipped otherwise")
sys.exit(1 if failed or files < runs else 0)
EOF
result=$?
set -e
if [ "$result" -eq 0 ] && [ -z "$keep" ]; then rm -rf "$work"; fi
exit "$result"
