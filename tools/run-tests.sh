#!/usr/bin/env bash
# Builds everything and runs every test, in six steps:
#   1. the release build and its tests (ctest): unit, golden, checker, runner,
#      debugger, adapter, language server, test runner, SPIM end-to-end, the
#      installed tree;
#   2. the editor support (tools/check-editors.sh), which fetches npm packages;
#   3. the Debian package: built, installed, its installed commands run;
#   4. the tests again (but the long SPIM runs) under AddressSanitizer and
#      UndefinedBehaviorSanitizer, built with clang in a tree that holds the
#      fuzz targets too;
#   5. a quick run of the benchmark;
#   6. the fuzzers for a minute, on the sanitizer tree's targets.
#   bash tools/run-tests.sh
# QV_FUZZ_SECONDS sets the fuzzing time (0 skips the fuzzer); QV_PACKAGE_INSTALL=0
# builds the package without installing it.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
steps=6
step=0
begin() {
  step=$((step + 1))
  local t=$((SECONDS - started))
  printf '== [%d:%02d] step %d of %d: %s\n' $((t / 60)) $((t % 60)) "$step" "$steps" "$*"
}

echo "tools/run-tests.sh: installs what is missing, then builds and tests in $steps steps:"
echo "the release build and its tests, the editors, the Debian package, the sanitizers,"
echo "the benchmark and a minute of fuzzing. About 12 minutes on two processors, most"
echo "of it compiling; the editor step needs the npm registry."
QV_WITH_FUZZ=1 bash tools/deps.sh
jobs=$(nproc)

begin "the release build (build/) and its tests"
cmake -S . -B build > /dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

begin "the editor support: the VS Code extension, its .vsix and a real VS Code; the Vim files in Neovim"
bash tools/check-editors.sh build/quorvelin-lsp

begin "the Debian package: build it, install it, run the installed commands"
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

begin "the tests under ASan and UBSan (build-asan/, clang, with the fuzz targets)"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The sanitizers are asked for the ordinary way, through the compiler flags,
# as a fuzzing service or a packager would; the build then links dynamically.
# The fuzz targets are built in the same tree, so the code is compiled with
# the sanitizers once, not twice.
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" > /dev/null
cmake --build build-asan -j "$jobs"
# The long random runs mostly exercise SPIM; under the sanitizers a shorter
# one of valid programs stands for them.
ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^e2e|^check/(soundness|valid_soundness)$'
bash tests/check/soundness/valid_run.sh build-asan 60 1

begin "the benchmark works"
bash bench/run.sh --quick

seconds=${QV_FUZZ_SECONDS:-60}
begin "fuzzing for $seconds seconds"
if [ "$seconds" -gt 0 ]; then
  QV_FUZZ_BUILD=build-asan bash tests/fuzz/run.sh "$seconds"
fi
t=$((SECONDS - started))
printf '== [%d:%02d] every step passed\n' $((t / 60)) $((t % 60))
