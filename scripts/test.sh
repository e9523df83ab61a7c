#!/usr/bin/env bash
# Builds everything and runs every test: the C++ tests under the sanitizers,
# the script tests against the release module and once more against the
# module built under the sanitizers, then an install of the packed package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh asan
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure)
scripts/build.sh release
if compgen -G "tests/js/*.test.js" >/dev/null; then
  node --test tests/js/
  # Leaks are checked in the C++ tests; node itself is not built to be checked.
  RZ_BUILD_DIR="$PWD/build/asan" LD_PRELOAD="$(g++ -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0 \
    node --test tests/js/
fi
scripts/install_check.sh
