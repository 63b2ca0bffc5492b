#!/usr/bin/env bash
# Checks the editor support in editors/:
#   - VS Code: npm ci, the grammar tests on the annotated samples in
#     editors/vscode/test and the extension's own tests, then the .vsix built
#     with vsce and checked to hold the manifest, the grammar and the code;
#   - Vim and Neovim: headless Neovim with editors/vim on the runtimepath gives
#     a .ic file its file type and syntax groups and, with a built
#     quorvelin-lsp, attaches it through the documented set-up.
#   bash tools/check-editors.sh [QUORVELIN-LSP]
# Needs node and npm (tools/deps.sh installs them) and reaches the npm
# registry for npm ci; QV_EDITORS_VSCODE=0 skips the VS Code part.
set -euo pipefail
cd "$(dirname "$0")/.."
server=${1:-}
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
  step npm run package
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    editors/vscode/quorvelin.vsix)
  for f in extension/package.json extension/extension.js extension/language-configuration.json \
    extension/syntaxes/quorvelin-ic.tmLanguage.json \
    extension/node_modules/vscode-languageclient/package.json; do
    grep -qx "$f" <<< "$listing" || fail "quorvelin.vsix has no $f"
  done
  if grep -q '^extension/test/' <<< "$listing"; then fail "quorvelin.vsix holds the tests"; fi
  echo "vscode: grammar and extension tests pass; editors/vscode/quorvelin.vsix holds the manifest, grammar, code and client"
fi

nvim --headless -u NONE -c 'set rtp+=editors/vim' -c 'filetype on' -c 'syntax on' \
  -c 'luafile editors/vim/test/check.lua' ${server:+"$server"} || fail "the Vim files in Neovim"
echo "vim: *.ic gets the file type quorvelin and its syntax groups${server:+; the Neovim set-up attaches $server and its diagnostics arrive}"
