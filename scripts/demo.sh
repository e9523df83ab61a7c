#!/usr/bin/env bash
# Builds the driver, starts the stand-in server on a free port, runs the demo
# against it and stops the server again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh release

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

build/release/standin --port 0 --port-file "$work/port" >"$work/standin.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/port" ] && break
  sleep 0.05
done
if [ ! -s "$work/port" ]; then
  echo "demo: the stand-in server did not start" >&2
  cat "$work/standin.log" >&2
  exit 1
fi
port="$(cat "$work/port")"
echo "stand-in server listening on 127.0.0.1:$port"
build/release/link_demo 127.0.0.1 "$port"
