#!/usr/bin/env bash
# Packs the package and installs the tarball into empty projects the way a
# user would: with apt-get and sudo on PATH standing for commands that fail
# loudly (an install must never call them), require() gives the module's
# exports; installed with its scripts skipped, require() says the module was
# not built and how to build it.
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tarball="$work/$(npm pack --silent --pack-destination "$work")"

fail() {
  echo "install check: $*" >&2
  exit 1
}

mkdir "$work/shadow"
for tool in apt-get sudo; do
  printf '#!/bin/sh\necho "install check: %s was called: $*" >&2\ntouch "%s/called"\nexit 1\n' \
    "$tool" "$work" >"$work/shadow/$tool"
  chmod +x "$work/shadow/$tool"
done

new_project() {
  mkdir "$work/$1"
  echo "{\"name\":\"$1\",\"version\":\"1.0.0\",\"private\":true}" >"$work/$1/package.json"
}

new_project app
(cd "$work/app" && PATH="$work/shadow:$PATH" npm install --silent --no-audit --no-fund --offline "$tarball" >/dev/null) ||
  fail "npm install of the tarball failed"
[ ! -e "$work/called" ] || fail "the install called apt-get or sudo"
exports="$(cd "$work/app" && node -p "Object.keys(require('rizezova')).join()")"
[ "$exports" = createConnection ] || fail "require('rizezova') gave [$exports]"

new_project unbuilt
(cd "$work/unbuilt" && npm install --silent --no-audit --no-fund --offline --ignore-scripts "$tarball" >/dev/null) ||
  fail "npm install --ignore-scripts of the tarball failed"
message="$(cd "$work/unbuilt" && node -e "
  try { require('rizezova'); console.log('loaded'); } catch (e) { console.log(e.constructor.name + ': ' + e.message); }")"
case "$message" in
  "Error: "*"native module was not built"*"npm rebuild rizezova"*) ;;
  *) fail "require('rizezova') of an unbuilt package gave: $message" ;;
esac
echo "install check: the packed package installs without apt-get or sudo and loads; unbuilt, it says how to build"
