#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing (Debian).
set -euo pipefail
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v spim >/dev/null || missing+=(spim)
command -v python3 >/dev/null || missing+=(python3)
# The language server's JSON library (headers only).
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
# The debugger's line editing and history (it brings the archives of
# libbsd, libmd and terminfo that a static link takes too).
[ -f /usr/include/histedit.h ] || missing+=(libedit-dev)
# A real client for the language server's tests: Neovim's built-in one.
command -v nvim >/dev/null || missing+=(neovim)
# The editor support (tools/check-editors.sh): Node.js and npm build and test
# the VS Code extension.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
# quorvelin-test's reports are read by real consumers in its tests: Perl's
# prove (TAP) and xmllint (JUnit XML).
command -v prove >/dev/null || missing+=(perl)
command -v xmllint >/dev/null || missing+=(libxml2-utils)
# The man pages are checked with mandoc and looked up with man.
command -v mandoc >/dev/null || missing+=(mandoc)
command -v man >/dev/null || missing+=(man-db)
if [ "${QV_WITH_FUZZ:-0}" = 1 ]; then
  command -v clang++ >/dev/null || missing+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}" > /dev/null
fi
