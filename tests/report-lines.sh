# SPDX-License-Identifier: MIT
# Sourced by tests/cross-check and tests/package-check, which define fail.
# report_leads_to REPORT DEBUG ADDR2LINE PROGRAM STATEMENT checks that every
# location of the report in the file REPORT but the last, the return into the
# start-up code, resolves to a source line by ADDR2LINE in DEBUG (the program
# or its debug file), a chain line one byte back, in the call, and that one
# leads to the line of PROGRAM/main.cpp that holds STATEMENT.
report_leads_to() {
  want=$4/main.cpp:$(grep -n -F -m 1 "$5" "$4/main.cpp" | cut -d: -f1)
  reached=no
  back=0
  sed -n 's/^  \$//p' "$1" | sed '$d' >"$1.locations"
  while read -r at; do
    lines=$("$3" -i -e "$2" "$(printf '0x%X' $((0x$at - back)))")
    back=1
    case $lines in *'?'*) fail "$2: \$$at does not resolve: $lines" ;; esac
    case $(echo "$lines" | tail -n 1) in */"$want" | */"$want "*) reached=yes ;; esac
  done <"$1.locations"
  [ "$reached" = yes ] || fail "$2: no location of the report leads to $want: $(cat "$1")"
}
