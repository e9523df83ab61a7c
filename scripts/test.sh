#!/usr/bin/env bash
# Builds everything and runs every test: the C++ tests under the sanitizers,
# then the script tests against the release module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh asan
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure)
scripts/build.sh release
if compgen -G "tests/js/*.test.js" >/dev/null; then
  node --test tests/js/
fi
