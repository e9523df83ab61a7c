#!/usr/bin/env bash
# Configures and builds one development tree: release (module, stand-in,
# examples, benchmarks), asan (everything under AddressSanitizer and UBSan,
# with tests) or fuzz (the fuzz targets, with clang); a second argument builds
# one target only.
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-release}"
fresh=()
case "$kind" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release -DRZ_TESTS=OFF) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DRZ_SANITIZE=ON -DRZ_BENCH=OFF) ;;
  fuzz) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRZ_FUZZ=ON -DRZ_TESTS=OFF -DRZ_BENCH=OFF)
    fresh=(-DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "usage: $0 [release|asan|fuzz]" >&2; exit 2 ;;
esac
# A tree keeps the generator and compiler it was made with (an install of the
# package may have made build/release without Ninja).
[ -f "build/$kind/CMakeCache.txt" ] || flags+=(-G Ninja "${fresh[@]}")
# Configuring again is cheap and makes changed options take effect.
cmake -S . -B "build/$kind" -DRZ_DEVELOPMENT=ON "${flags[@]}" >/dev/null
cmake --build "build/$kind" ${2:+--target "$2"}
