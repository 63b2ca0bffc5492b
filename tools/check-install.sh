#!/usr/bin/env bash
# Checks an installed quorvelin: the commands run from where they were
# installed, the man pages are there, found by man and clean under the linter,
# and the installed translator's output of the installed factorial example
# prints in SPIM exactly the example's .out file.
#
#   bash tools/check-install.sh PREFIX VERSION
#
# PREFIX is /usr for the Debian package, or the --prefix of cmake --install.
# With QV_EXPECT_STATIC=1 the commands must load no shared library.
set -euo pipefail
prefix=$1
version=$2
here=$(cd "$(dirname "$0")/.." && pwd)
doc=$prefix/share/doc/quorvelin
man1=$prefix/share/man/man1
man5=$prefix/share/man/man5
commands=(quorvelin quorvelin-check quorvelin-run quorvelin-lsp quorvelin-debug quorvelin-test)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() {
  echo "check-install: FAILED: $*" >&2
  exit 1
}

files=(bin/quorvelin bin/quorvelin-check bin/quorvelin-run bin/quorvelin-lsp bin/quorvelin-debug bin/quorvelin-test
  share/man/man1/quorvelin.1 share/man/man1/quorvelin-check.1 share/man/man1/quorvelin-run.1
  share/man/man1/quorvelin-lsp.1 share/man/man1/quorvelin-debug.1 share/man/man1/quorvelin-test.1
  share/man/man5/quorvelin-ic.5 share/quorvelin/editors/vim/syntax/quorvelin.vim
  share/quorvelin/editors/vim/lua/quorvelin_dap.lua share/quorvelin/editors/vscode/package.json
  share/doc/quorvelin/{README.md,LICENSE,CHANGELOG.md} share/doc/quorvelin/examples/factorial.{ic,out})
for f in "${files[@]}"; do
  [ -f "$prefix/$f" ] || fail "$prefix/$f is missing"
done
# Preloaded into SPIM by the runner and the debugger: SPIM's timer without a
# system call per instruction, the instruction count, every Ctrl-C.
shim=""
for f in "$prefix"/lib/quorvelin/libqvspim.so "$prefix"/lib/*/quorvelin/libqvspim.so; do
  if [ -f "$f" ]; then shim=$f; fi
done
[ -n "$shim" ] || fail "libqvspim.so is missing under $prefix/lib"
echo "installed: the commands, their man pages, the library preloaded into SPIM, the editor files, README.md, LICENSE, CHANGELOG.md and the examples"

for cmd in "${commands[@]}"; do
  got=$("$prefix/bin/$cmd" --version) || fail "$cmd --version exited with $?"
  [ "$got" = "$cmd $version" ] || fail "$cmd --version printed '$got', not '$cmd $version'"
  # Each --help names the command's own page, and the pages it names are installed.
  help=$("$prefix/bin/$cmd" --help) || fail "$cmd --help exited with $?"
  grep -q "$cmd(1)" <<< "$help" || fail "$cmd --help does not name $cmd(1)"
  for ref in $(grep -o 'quorvelin[a-z-]*([15])' <<< "$help" | sort -u); do
    name=${ref%(*}
    section=${ref#*(}
    section=${section%)}
    [ -f "$prefix/share/man/man$section/$name.$section" ] || fail "$cmd --help names $ref, which is not installed"
  done
done
echo "--version and --help: every command prints $version, and its help names its installed man page"

# The installed debug adapter answers the Debug Adapter Protocol, and ends at
# the end of its input.
req='{"seq":1,"type":"request","command":"initialize","arguments":{"adapterID":"quorvelin"}}'
got=$(printf 'Content-Length: %d\r\n\r\n%s' "${#req}" "$req" | timeout 10 "$prefix/bin/quorvelin-debug" --dap) ||
  fail "quorvelin-debug --dap exited with $?"
grep -q '"supportsConfigurationDoneRequest":true' <<< "$got" || fail "quorvelin-debug --dap did not answer initialize"
echo "quorvelin-debug --dap answers initialize"

if [ "${QV_EXPECT_STATIC:-0}" = 1 ]; then
  for cmd in "${commands[@]}"; do
    if readelf -d "$prefix/bin/$cmd" | grep -q NEEDED; then
      readelf -d "$prefix/bin/$cmd" | grep NEEDED >&2
      fail "$cmd loads shared libraries"
    fi
  done
  echo "static: the commands load no shared library"
fi

# The installed example, run in SPIM by the installed runner (the end-to-end
# harness runs every program through quorvelin-run): its output exactly the
# example's .out file, exit status 0.
bash "$here/tests/e2e/run_case.sh" "$prefix/bin/quorvelin-run" "$doc/examples/factorial" ||
  fail "the installed quorvelin-run on the installed factorial example"
echo "quorvelin-run: the installed factorial example runs in SPIM as expected"

# The installed runner finds the installed library: it counts instructions.
if command -v spim > /dev/null; then
  stats=$("$prefix/bin/quorvelin-run" --stats "$doc/examples/factorial.ic" 2>&1 > /dev/null) ||
    fail "quorvelin-run --stats on the installed factorial example"
  grep -Eq "[0-9]+ instructions" <<< "$stats" || fail "the installed quorvelin-run counts no instructions: $stats"
  echo "quorvelin-run: the installed runner counts instructions through $shim"
fi

# The installed test runner passes the installed examples as a suite.
if command -v spim > /dev/null; then
  report=$("$prefix/bin/quorvelin-test" "$doc/examples" 2>&1) ||
    fail "the installed quorvelin-test on the installed examples: $report"
  echo "quorvelin-test: the installed examples pass as a suite"
fi

# The installed checker finds nothing in the installed example.
report=$("$prefix/bin/quorvelin-check" "$doc/examples/factorial.ic" 2>&1) ||
  fail "the installed quorvelin-check rejects the installed factorial example: $report"
[ -z "$report" ] || fail "the installed quorvelin-check reports on the installed factorial example: $report"
echo "quorvelin-check: nothing to report on the installed factorial example"

# The installed translator's own output, run in SPIM by hand: past SPIM's
# five banner lines, the example's expected output.
if command -v spim > /dev/null; then
  tmp=$(mktemp -d)
  "$prefix/bin/quorvelin" "$doc/examples/factorial.ic" > "$tmp/factorial.s" 2> /dev/null ||
    fail "the installed quorvelin on the installed factorial example"
  timeout 60 spim -file "$tmp/factorial.s" < /dev/null 2> "$tmp/err" | tail -n +6 > "$tmp/out"
  cmp -s "$tmp/out" "$doc/examples/factorial.out" && [ ! -s "$tmp/err" ] ||
    fail "the installed quorvelin's factorial.s does not print factorial.out in SPIM"
  rm -rf "$tmp"
  echo "quorvelin: the installed factorial example's assembly runs in SPIM as expected"
fi

pages=()
for cmd in "${commands[@]}"; do pages+=("$man1/$cmd.1"); done
pages+=("$man5/quorvelin-ic.5")
for file in "${pages[@]}"; do
  page=$(basename "$file")
  page=${page%.*}
  grep -q "^\.TH .*\"quorvelin $version\"" "$file" || fail "$page does not carry version $version"
  if command -v mandoc > /dev/null; then
    lint=$(mandoc -Tlint -Wall "$file" 2>&1 || true)
  else
    lint=$(groff -man -ww -z "$file" 2>&1 || true)
  fi
  [ -z "$lint" ] || fail "$page is not clean: $lint"
  # Every page's SEE ALSO names every other command and the manual.
  for other in "${commands[@]}" quorvelin-ic; do
    [ "$other" = "$page" ] && continue
    sed -n '/^\.SH "\{0,1\}SEE ALSO/,$p' "$file" | sed 's/\\-/-/g' | grep -Eq "(^|[^-a-z])$other ?\([15]\)" ||
      fail "$page's SEE ALSO does not name $other"
  done
  if [ "$prefix" = /usr ]; then
    found=$(man -w "$page") || fail "man -w $page found nothing"
  else
    found=$(MANPATH=$prefix/share/man man -w "$page") || fail "man -w $page found nothing"
  fi
  [ "$found" = "$file" ] || fail "man -w $page found $found, not $file"
done
echo "man: the pages are clean, carry the version, name each other, and man -w finds them"
