#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing (Debian).
#   bash tools/deps.sh           install the missing packages (apt-get; sudo when not root)
#   bash tools/deps.sh --list    print every package, installed or not
# QV_WITH_FUZZ=1 adds clang and its fuzzer runtime.
# Each need is a package and the file or command that shows it is there.
set -euo pipefail

needs=(
  # The build and the commands.
  "cmake        command:cmake"
  "g++          command:g++"
  "make         command:make"
  "spim         command:spim"
  # The language server's and the adapter's JSON library (headers only).
  "nlohmann-json3-dev  file:/usr/include/nlohmann/json.hpp"
  # The debugger's line editing and history (it brings the archives of
  # libbsd, libmd and terminfo that a static link takes too).
  "libedit-dev  file:/usr/include/histedit.h"
  # The tests.
  "libgtest-dev file:/usr/include/gtest/gtest.h"
  "python3      command:python3"
  # A real client for the language server's tests: Neovim's built-in one.
  "neovim       command:nvim"
  # The editor support: Node.js and npm build and test the VS Code extension.
  "nodejs       command:node"
  "npm          command:npm"
  # The real-editor test (tests/vscode): Chromium shows code-server, whose
  # file search is Debian's ripgrep and whose native modules are built here
  # (kerberos needs the Kerberos headers).
  "chromium     command:chromium"
  "ripgrep      command:rg"
  "pkg-config   command:pkg-config"
  "libkrb5-dev  file:/usr/include/krb5.h"
  # quorvelin-test's reports are read by real consumers in its tests: Perl's
  # prove (TAP) and xmllint (JUnit XML).
  "perl         command:prove"
  "libxml2-utils command:xmllint"
  # The man pages are checked with mandoc and looked up with man.
  "mandoc       command:mandoc"
  "man-db       command:man"
)
if [ "${QV_WITH_FUZZ:-0}" = 1 ] || [ "${1:-}" = --list ]; then
  needs+=(
    "clang        command:clang++"
    "libclang-rt-14-dev  glob:/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
  )
fi

present() {
  local how=${1%%:*} what=${1#*:}
  case $how in
    command) command -v "$what" > /dev/null ;;
    file) [ -f "$what" ] ;;
    glob) compgen -G "$what" > /dev/null ;;
  esac
}

if [ "${1:-}" = --list ]; then
  for need in "${needs[@]}"; do
    read -r package _ <<< "$need"
    printf '%s\n' "$package"
  done
  exit 0
fi

missing=()
for need in "${needs[@]}"; do
  read -r package test <<< "$need"
  present "$test" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing with apt-get (this takes a few minutes on a new machine): ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}" > /dev/null
fi
