#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks the manual pages: both render without a single groff warning, each
# quotes the usage line its program really writes and shows the project
# version, and the install puts the programs and the compressed pages where
# they belong.
# Usage: man_pages_test.sh <build dir> <version>
set -u
# What any program a test starts may write to one file (in 512-byte blocks): ctest says.
ulimit -f $((${CHILD_FILE_LIMIT:?the bytes a program may write, which ctest sets} / 512))

build_dir=${1:?build dir}
version=${2:?version}
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! command -v groff >/dev/null 2>&1; then
  echo "FAIL: groff not found (Debian package groff-base)" >&2
  exit 1
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

for program in tab2vrex vrex2tab; do
  page=$build_dir/man/$program.1
  if ! groff -man -ww -z "$page" 2>"$work/warnings"; then
    fail "groff failed on $page"
  fi
  if [ -s "$work/warnings" ]; then
    fail "groff warns on $page:"
    cat "$work/warnings" >&2
  fi

  # The page must show the usage line exactly as the program writes it.
  usage=$("$build_dir/$program/$program") || fail "$program without argument did not exit with 0"
  if ! groff -man -Tascii -P-cbou "$page" 2>/dev/null | grep -qF -- "$usage"; then
    fail "$page does not show the usage line \"$usage\""
  fi
  if ! groff -man -Tascii -P-cbou "$page" 2>/dev/null | tail -n 3 | grep -qF "outline converters $version"; then
    fail "$page does not show version $version in its footer"
  fi
done

page=$build_dir/man/vrex.5
if ! groff -man -ww -z "$page" 2>"$work/warnings" || [ -s "$work/warnings" ]; then
  fail "groff warns on $page:"
  cat "$work/warnings" >&2
fi

prefix=$work/prefix
if ! cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1; then
  fail "cmake --install failed:"
  cat "$work/install.log" >&2
fi
for program in tab2vrex vrex2tab; do
  if [ ! -f "$prefix/bin/$program" ] || [ ! -x "$prefix/bin/$program" ]; then
    fail "$prefix/bin/$program is missing or not executable"
  fi
  installed=$prefix/share/man/man1/$program.1.gz
  if [ ! -f "$installed" ]; then
    fail "$installed is missing"
  elif ! gzip -dc "$installed" | cmp -s "$build_dir/man/$program.1" -; then
    fail "$installed differs from the configured man/$program.1"
  fi
done

installed=$prefix/share/man/man5/vrex.5.gz
if [ ! -f "$installed" ]; then
  fail "$installed is missing"
elif ! gzip -dc "$installed" | cmp -s "$build_dir/man/vrex.5" -; then
  fail "$installed differs from the configured man/vrex.5"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "manual pages render cleanly and install"
