#!/usr/bin/env bash
# Installs what is missing, builds the test configuration with AddressSanitizer
# and UBSan, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVOSTREL_TESTS=ON -DVOSTREL_SANITIZE=ON >/dev/null
cmake --build build/test
cd build/test
export QT_QPA_PLATFORM=offscreen
ctest -j"$(nproc)" --output-on-failure "$@"
