#!/usr/bin/env bash
# Builds the translator and runs every test: unit, golden and SPIM end-to-end;
# then the editor support (tools/check-editors.sh); then builds the Debian
# package, installs it and runs the installed commands; then the unit, golden
# and checker tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, a quick run of the benchmark, and the fuzzer for
# a minute on its seed corpus.
#   bash tools/run-tests.sh
# QV_FUZZ_SECONDS sets the fuzzing time (0 skips the fuzzer); QV_PACKAGE_INSTALL=0
# builds the package without installing it.
set -euo pipefail
cd "$(dirname "$0")/.."
QV_WITH_FUZZ=1 bash tools/deps.sh
jobs=$(nproc)

cmake -S . -B build > /dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== the editor support: the VS Code extension, its grammar and .vsix; the Vim files in Neovim"
bash tools/check-editors.sh build/quorvelin-lsp

echo "== the Debian package: build it, install it, run the installed commands"
# QV_PACKAGE_INSTALL=0 builds the package without installing it.
rm -f build/quorvelin_*.deb
(cd build && cpack -G DEB > /dev/null)
deb=$(ls build/quorvelin_*.deb)
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -f "$deb" Package Version Maintainer Recommends
if [ "${QV_PACKAGE_INSTALL:-1}" = 1 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --reinstall "$PWD/$deb" > /dev/null
  QV_EXPECT_STATIC=1 bash tools/check-install.sh /usr "$version"
fi

echo "== unit, golden and checker tests under ASan and UBSan"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The sanitizers are asked for the ordinary way, through the compiler flags,
# as a fuzzing service or a packager would; the build then links dynamically.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" > /dev/null
cmake --build build-asan -j "$jobs"
# The long random runs mostly exercise SPIM; under the sanitizers a shorter
# one of valid programs stands for them.
ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^e2e|^check/(soundness|valid_soundness)$'
bash tests/check/soundness/valid_run.sh build-asan 60 1

echo "== the benchmark works"
bash bench/run.sh --quick

seconds=${QV_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  echo "== fuzzing for $seconds seconds"
  bash tests/fuzz/run.sh "$seconds"
fi
