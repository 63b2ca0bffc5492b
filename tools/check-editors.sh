#!/usr/bin/env bash
# Checks the editor support in editors/:
#   - VS Code: npm ci, the grammar tests on the annotated samples in
#     editors/vscode/test and the extension's own tests, then the .vsix built
#     (the code bundled with esbuild) and checked to hold the manifest, the
#     grammar and the bundle, and no more than a handful of files;
#   - the real editor: with a built quorvelin-lsp and quorvelin-debug, the
#     .vsix installed in code-server and walked through in Chromium as a user
#     goes (tests/vscode/run.sh);
#   - Vim and Neovim: headless Neovim with editors/vim on the runtimepath gives
#     a .ic file its file type and syntax groups and, with a built
#     quorvelin-lsp, attaches it through the documented set-up.
#   bash tools/check-editors.sh [QUORVELIN-LSP [QUORVELIN-DEBUG]]
# QUORVELIN-DEBUG defaults to the quorvelin-debug beside QUORVELIN-LSP.
# Needs node and npm, and for the real editor chromium and what builds
# code-server's native modules (tools/deps.sh installs them all); reaches the
# npm registry for npm ci. QV_EDITORS_VSCODE=0 skips the VS Code part,
# QV_EDITORS_REAL=0 the real editor alone; QV_EDITOR_SHOTS keeps the real
# editor's screenshots and logs in that folder.
set -euo pipefail
cd "$(dirname "$0")/.."
server=${1:-}
debug=${2:-}
[ -n "$debug" ] || [ -z "$server" ] || debug=$(dirname "$server")/quorvelin-debug
fail() {
  echo "check-editors: FAILED: $*" >&2
  exit 1
}

if [ "${QV_EDITORS_VSCODE:-1}" = 1 ]; then
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  # Each step's output goes to the log, shown when the step fails.
  step() {
    (cd editors/vscode && "$@") > "$log" 2>&1 || { cat "$log" >&2; fail "in editors/vscode: $*"; }
  }
  # No install scripts: the packaging tool's optional key-store module would
  # fetch a prebuilt binary, and nothing here needs a script.
  step npm ci --ignore-scripts --no-audit --no-fund
  step npx --no-install vscode-tmgrammar-test -g syntaxes/quorvelin-ic.tmLanguage.json 'test/*.ic'
  grep -c '^✓' "$log" | sed 's/$/ annotated grammar samples pass/'
  step node --test test/extension.test.js
  sed -n 's/^# pass \([0-9]*\)$/\1 extension tests pass/p' "$log"
  rm -f editors/vscode/quorvelin.vsix
  # The extension carries the toolset's version, set in CMakeLists.txt.
  version=$(sed -n 's/^project(quorvelin VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
  node -e 'process.exit(require("./editors/vscode/package.json").version === process.argv[1] ? 0 : 1)' "$version" ||
    fail "editors/vscode/package.json's version is not $version, the version in CMakeLists.txt"
  step npm run package
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    editors/vscode/quorvelin.vsix)
  for f in extension/package.json extension/dist/extension.js extension/language-configuration.json \
    extension/syntaxes/quorvelin-ic.tmLanguage.json extension/LICENSE.txt; do
    grep -qx "$f" <<< "$listing" || fail "quorvelin.vsix has no $f"
  done
  if grep -q '^extension/test/\|^extension/node_modules/' <<< "$listing"; then fail "quorvelin.vsix holds the tests or node_modules"; fi
  files=$(grep -c . <<< "$listing")
  [ "$files" -le 12 ] || fail "quorvelin.vsix holds $files files: the code is not bundled?"
  echo "vscode: grammar and extension tests pass; editors/vscode/quorvelin.vsix holds $files files: the manifest, grammar and bundled code"

  if [ "${QV_EDITORS_REAL:-1}" = 1 ] && [ -n "$server" ]; then
    [ -x "$debug" ] || fail "no quorvelin-debug at $debug for the real editor"
    began=$SECONDS
    bash tests/vscode/run.sh editors/vscode/quorvelin.vsix "$server" "$debug" || fail "the extension in a real VS Code"
    echo "vscode: the extension walked through in code-server and Chromium in $((SECONDS - began)) s"
  fi
fi

nvim --headless -u NONE -c 'set rtp+=editors/vim' -c 'filetype on' -c 'syntax on' \
  -c 'luafile editors/vim/test/check.lua' ${server:+"$server"} || fail "the Vim files in Neovim"
echo "vim: *.ic gets the file type quorvelin and its syntax groups${server:+; the Neovim set-up attaches $server and its diagnostics arrive}"
