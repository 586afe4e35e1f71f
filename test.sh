#!/usr/bin/env bash
# Installs what is missing, builds the test configuration with AddressSanitizer
# and UBSan and the fuzz targets with clang, runs every test (arguments go to
# ctest), then runs each fuzz target briefly from its seeds.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVOSTREL_TESTS=ON -DVOSTREL_SANITIZE=ON >/dev/null
cmake --build build/test
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVOSTREL_FUZZ=ON >/dev/null
cmake --build build/fuzz --target fuzz_targets
(
  cd build/test
  export QT_QPA_PLATFORM=offscreen
  ctest -j"$(nproc)" --output-on-failure "$@"
)
scripts/fuzz-run.sh build/fuzz
