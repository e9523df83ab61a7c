#!/usr/bin/env bash
# Packs the package, installs the tarball into an empty project the way a
# user would, and checks that require() of it gives the module's exports.
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tarball="$(npm pack --silent --pack-destination "$work")"
mkdir "$work/app"
cd "$work/app"
echo '{"name":"install-check","version":"1.0.0","private":true}' >package.json
npm install --silent --no-audit --no-fund --offline "$work/$tarball" >/dev/null
exports="$(node -p "Object.keys(require('rizezova')).join()")"
if [ "$exports" != createConnection ]; then
  echo "install check: require('rizezova') gave [$exports]" >&2
  exit 1
fi
echo "install check: the packed package installs and loads"
