#!/usr/bin/env bash
# Builds the Node module when the package is installed (npm install of the
# checkout or of its packed tarball): the project's own CMake build, release
# tree, module only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh module
scripts/build.sh release rizezova.node
