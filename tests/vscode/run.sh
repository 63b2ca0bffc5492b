#!/usr/bin/env bash
# The VS Code extension inside a real VS Code in a real browser: code-server
# (install.sh) with the .vsix installed, on a scratch copy of workspace/,
# driven in Debian's Chromium by walk.js as a user would go.
#   run.sh QUORVELIN.VSIX QUORVELIN-LSP QUORVELIN-DEBUG
# Screenshots of a failed step, the server's log and the extension's are
# kept in QV_EDITOR_SHOTS (default: a folder under /tmp, named when the walk
# fails).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
vsix=$(realpath "$1")
lsp=$(realpath "$2")
debug=$(realpath "$3")
# The Testing view's runner, beside the language server.
tester=$(dirname "$lsp")/quorvelin-test
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || { echo "run.sh: no chromium (tools/deps.sh installs it)" >&2; exit 1; }

editor=$(bash "$here/install.sh")
scratch=$(mktemp -d /tmp/qv-editor.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then
    # The server and what it started (the extension host, the language
    # server, the adapter, SPIM) form its process group.
    kill -TERM -- "-$server" 2> /dev/null || true
    wait "$server" 2> /dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

ws=$scratch/ws
data=$scratch/data
mkdir -p "$data/User" "$scratch/config" "$scratch/cache"
cp -r "$here/workspace" "$ws"
export XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_CACHE_HOME=$scratch/cache
# The extension host takes its PATH from a login shell, not from here: the
# commands are named by the settings, as a user whose PATH lacks them would.
node -e '
  const [file, lsp, debug, tester] = process.argv.slice(1);
  require("fs").writeFileSync(file, JSON.stringify({
    "quorvelin.lspPath": lsp,
    "quorvelin.debugPath": debug,
    "quorvelin.testPath": tester,
    "security.workspace.trust.enabled": false,
    "workbench.startupEditor": "none",
    "workbench.tips.enabled": false,
    "workbench.enableExperiments": false,
    "telemetry.telemetryLevel": "off",
    "extensions.autoCheckUpdates": false,
    "extensions.autoUpdate": false,
    "update.mode": "none",
    "editor.hover.delay": 100,
    "debug.console.closeOnEnd": false,
    "debug.openDebug": "openOnDebugBreak",
    "debug.internalConsoleOptions": "openOnSessionStart",
    "chat.disableAIFeatures": true
  }, null, 2));
' "$data/User/settings.json" "$lsp" "$debug" "$tester"

cs=$editor/node_modules/code-server/out/node/entry.js
common=(--user-data-dir "$data" --extensions-dir "$data/extensions" --disable-telemetry --disable-update-check)
node "$cs" "${common[@]}" --install-extension "$vsix" > "$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; echo "run.sh: code-server did not install $vsix" >&2; exit 1; }

# A free port, and the server in a process group of its own.
port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
setsid node "$cs" "${common[@]}" --auth none --bind-addr "127.0.0.1:$port" --disable-workspace-trust \
  --disable-getting-started-override "$ws" > "$scratch/server.log" 2>&1 < /dev/null &
server=$!
for _ in $(seq 150); do
  (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && break
  kill -0 "$server" 2> /dev/null || { cat "$scratch/server.log" >&2; echo "run.sh: code-server ended" >&2; exit 1; }
  sleep 0.2
done

shots=${QV_EDITOR_SHOTS:-$(mktemp -d /tmp/qv-editor-shots.XXXXXX)}
mkdir -p "$shots"
status=0
QV_URL="http://127.0.0.1:$port/?folder=$ws" QV_WS=$ws QV_DATA=$data QV_SHOTS=$shots QV_CHROMIUM=$chromium \
  NODE_PATH=$editor/node_modules node "$here/walk.js" || status=$?
if [ "$status" != 0 ]; then
  cp "$scratch/server.log" "$shots/server.log"
  find "$data/logs" -name '*.log' -newer "$scratch/install.log" -path '*exthost*' -exec cp {} "$shots/" \; 2> /dev/null || true
  echo "real editor: FAILED; screenshots and logs in $shots" >&2
  exit 1
fi
[ -n "${QV_EDITOR_SHOTS:-}" ] || rm -rf "$shots"
