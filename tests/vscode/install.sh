#!/usr/bin/env bash
# Installs the real editor of the real-editor test: code-server (VS Code
# served to a browser) and playwright-core, as package-lock.json pins them,
# into a cache folder named by the lock file's hash, and prints that folder.
# A second run with the same lock finds it ready.
#   install.sh   (QV_EDITOR_CACHE sets the cache's parent folder)
#
# code-server's own install script refuses to run as root and downloads
# ripgrep and prebuilt binaries from outside the npm registry, so it is not
# run: its steps are done here, with Debian's ripgrep and the native modules
# built from their sources against Debian's Node headers (unoptimised: they
# build in a third of the time, and a test needs no speed from them).
# Needs: node, npm, a C++ compiler, python3, pkg-config, rg and the headers
# of libkrb5, libx11, libxkbfile and libsecret (tools/deps.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
hash=$(cat "$here/package.json" "$here/package-lock.json" "$0" | sha256sum | cut -c1-16)
parent=${QV_EDITOR_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quorvelin-editor-test}
dir=$parent/$hash
mkdir -p "$parent"
if [ -f "$dir/.ready" ]; then
  echo "$dir"
  exit 0
fi
# Several builds may run this at once: one installs, the others wait.
exec 9> "$parent/.lock"
flock 9
if [ -f "$dir/.ready" ]; then
  echo "$dir"
  exit 0
fi
rm -rf "$dir" "$dir.part"
mkdir -p "$dir.part"
cp "$here/package.json" "$here/package-lock.json" "$dir.part/"
log=$dir.part/install.log
fail() {
  tail -40 "$log" >&2
  echo "install.sh: FAILED: $*" >&2
  exit 1
}
quiet=(--ignore-scripts --no-audit --no-fund --loglevel=error)
(cd "$dir.part" && npm ci "${quiet[@]}") >> "$log" 2>&1 || fail "npm ci"
cs=$dir.part/node_modules/code-server
vs=$cs/lib/vscode
# VS Code's own modules and its built-in extensions', pinned by their
# shrinkwrap files.
(cd "$vs" && npm install --omit=dev "${quiet[@]}") >> "$log" 2>&1 || fail "npm install in lib/vscode"
(cd "$vs/extensions" && npm install --omit=dev "${quiet[@]}") >> "$log" 2>&1 || fail "npm install in lib/vscode/extensions"
mkdir -p "$vs/node_modules/@vscode/ripgrep/bin"
cp "$(command -v rg)" "$vs/node_modules/@vscode/ripgrep/bin/rg"
ln -sfn node_modules "$vs/node_modules.asar"
ln -sfn code-linux.sh "$vs/bin/remote-cli/code-server"
ln -sfn browser-linux.sh "$vs/bin/helpers/browser.sh"

# The native modules, each with node-gyp as npm carries it.
gyp=$(dirname "$(readlink -f "$(command -v npm)")")/../node_modules/node-gyp/bin/node-gyp.js
export npm_config_nodedir=/usr CFLAGS=-O0 CXXFLAGS=-O0 JOBS=2
for m in @vscode/spdlog node-pty kerberos native-watchdog @vscode/deviceid; do
  (cd "$vs/node_modules/$m" && node "$gyp" rebuild) >> "$log" 2>&1 || fail "building $m"
done
(cd "$dir.part/node_modules/argon2"
 node ../@mapbox/node-pre-gyp/bin/node-pre-gyp rebuild) >> "$log" 2>&1 || fail "building argon2"
touch "$dir.part/.ready"
mv "$dir.part" "$dir"
# Older versions of the lock's install are of no more use.
find "$parent" -mindepth 1 -maxdepth 1 -type d ! -name "$hash" -exec rm -rf {} +
echo "$dir"
