#!/usr/bin/env bash
# Runs the debug adapter's tests: the DAP client as package-lock.json pins it
# (installed with npm ci when missing or older than the lock), then
# node --test on dap.test.js.
#   run.sh QUORVELIN-DEBUG QUORVELIN-RUN
set -euo pipefail
debug=$(realpath "$1")
runner=$(realpath "$2")
cd "$(dirname "$0")"
stamp=node_modules/.package-lock.json
if [ ! -f "$stamp" ] || [ package-lock.json -nt "$stamp" ]; then
  # Several builds may run this at once: one installs, the others wait.
  exec 9> .npm-ci.lock
  flock 9
  if [ ! -f "$stamp" ] || [ package-lock.json -nt "$stamp" ]; then
    npm ci --ignore-scripts --no-audit --no-fund > /dev/null
  fi
  flock -u 9
fi
QV_DEBUG=$debug QV_RUN=$runner exec node --test dap.test.js
