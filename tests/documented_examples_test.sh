#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs what users copy: the README's tour and the manual pages' EXAMPLES (and vrex(5)'s EXAMPLE),
# taken from the documents themselves, and compares each shown result; and
# checks that the release files the README names carry the project's version.
# Usage: documented_examples_test.sh <source dir> <build dir>
set -u
# What any program a test starts may write to one file (in 512-byte blocks): ctest says.
ulimit -f $((${CHILD_FILE_LIMIT:?the bytes a program may write, which ctest sets} / 512))
source_dir=$(cd "${1:?source dir}" && pwd)
build_dir=$(cd "${2:?build dir}" && pwd)
failures=0
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$build_dir/tab2vrex/tab2vrex" "$build_dir/vrex2tab/vrex2tab" "$work/bin/"
PATH=$work/bin:$PATH
cd "$work" || exit 1

# check WHAT EXPECTED ACTUAL: the two files must be equal.
check() {
  if ! cmp -s "$2" "$3"; then
    echo "FAIL: $1 differs from the document:" >&2
    diff "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}
# readme_block N: the README tour's Nth code block, each → a TAB.
readme_block() {
  awk -v n="$1" '/^## A short tour/ { on = 1 } on && /^## / && !/tour/ { exit }
    on && /^```/ { fence = !fence; inside = fence && ++seen == n; next }
    inside' "$source_dir/README.md" | sed 's/→/\t/g'
}
# example_block PAGE N: the Nth .nf block under EXAMPLES of a page as built, unescaped.
example_block() {
  awk -v n="$2" '/^\.SH EXAMPLES/ { on = 1; next } on && /^\.SH/ { exit }
    on && /^\.nf/ { inside = ++seen == n; next } /^\.fi/ { inside = 0 } on && inside' \
    "$build_dir/man/$1" | sed -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g'
}

# The tour: its outline, converted and back.
readme_block 1 >notes
readme_block 2 >outline.shown
readme_block 3 >copy.shown
tab2vrex notes >outline && check "tour: tab2vrex notes" outline.shown outline
vrex2tab outline >copy && check "tour: vrex2tab outline" copy.shown copy

for page in tab2vrex.1 vrex2tab.1; do
  # The round trip gives the outline back.
  rm -f outline copy
  sh -c "$(example_block $page 1)" && check "$page: round trip" notes copy
  # The pipeline gives its printf's outline back.
  pipeline=$(example_block $page 2)
  sh -c "${pipeline%%|*}" >given
  sh -c "$pipeline" >written && check "$page: pipeline" given written
done
# The file in between, as tab2vrex(1) shows it.
pipeline=$(example_block tab2vrex.1 2)
example_block tab2vrex.1 3 >between.shown
sh -c "${pipeline% | vrex2tab*}" >between && check "tab2vrex.1: the file in between" \
  between.shown between
# The records vrex2tab(1) shows, and the items its text names.
example_block vrex2tab.1 3 >records
printf 'a\n\tb\n\tc\n\t\td\n' >items.shown
vrex2tab records >items && check "vrex2tab.1: the items of the records" items.shown items
# vrex(5)'s file, as tab2vrex writes it from the outline its text names, and back.
awk '/^\.SH EXAMPLE/ { on = 1 } on && /^\.EX/ { inside = 1; next } /^\.EE/ { inside = 0 }
  on && inside' "$build_dir/man/vrex.5" >plan.vrex.shown
printf 'Release\n\tBuild\nLater\n' >plan
tab2vrex plan >plan.vrex && check "vrex.5: the file of the outline" plan.vrex.shown plan.vrex
vrex2tab plan.vrex.shown >plan.back && check "vrex.5: the outline of the file" plan plan.back

# The release files the README names carry the project's version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
grep -o 'outline-converters[-_][0-9][0-9.]*[0-9]' "$source_dir/README.md" | sed 's/^outline-converters.//' |
  sort -u >readme.versions
echo "$version" >project.version
check "README: the version of the release files" project.version readme.versions

[ "$failures" -eq 0 ] || exit 1
echo "README tour and manual page examples: as documented, the release files' version $version"
