#!/usr/bin/env bash
# Builds the driver and runs the demo, which starts the stand-in server on a
# free port, uses the module against it and stops it again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh release
node examples/demo.js
