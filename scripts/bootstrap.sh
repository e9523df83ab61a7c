#!/usr/bin/env bash
# Installs the Debian packages the development build needs when they are
# missing (an install of the package never runs this: scripts/install.js only
# says what is missing).
set -euo pipefail

missing=()
need_cmd() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_file() { [ -e "$1" ] || missing+=("$2"); }

need_cmd cmake cmake
need_cmd ninja ninja-build
need_cmd g++ g++
need_file /usr/include/sqlite3.h libsqlite3-dev
need_file /usr/include/gtest/gtest.h libgtest-dev
need_file /usr/include/gmock/gmock.h libgmock-dev
need_file /usr/include/benchmark/benchmark.h libbenchmark-dev

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

if ! command -v node >/dev/null 2>&1; then
  echo "bootstrap: Node.js 20 is required and was not found" >&2
  exit 1
fi
node_inc="$(node -p "require('path').resolve(process.execPath, '..', '..', 'include', 'node')")"
if [ ! -f "$node_inc/node.h" ] && [ ! -f /usr/include/node/node.h ]; then
  echo "bootstrap: the Node.js headers (node.h) were not found under $node_inc" >&2
  exit 1
fi
