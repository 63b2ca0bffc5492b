#!/usr/bin/env bash
# quorvelin-test's tests (suite_test.py), with node-tap's TAP parser as
# package-lock.json pins it (installed with npm ci when missing or older than
# the lock; without node and npm the TAP 14 check is left out).
#   run.sh QUORVELIN-TEST PROJECT-DIR
set -euo pipefail
qt=$(realpath "$1")
root=$(realpath "$2")
cd "$(dirname "$0")"
stamp=node_modules/.package-lock.json
if command -v npm > /dev/null && { [ ! -f "$stamp" ] || [ package-lock.json -nt "$stamp" ]; }; then
  # Several builds may run this at once: one installs, the others wait.
  exec 9> .npm-ci.lock
  flock 9
  if [ ! -f "$stamp" ] || [ package-lock.json -nt "$stamp" ]; then
    npm ci --ignore-scripts --no-audit --no-fund > /dev/null
  fi
  flock -u 9
fi
exec python3 suite_test.py "$qt" "$root"
