# SPDX-License-Identifier: MIT
# Tab outline to vrex outline file, for comparison with tab2vrex.
# Usage: awk -f tab2vrex.awk FILE   (run with LC_ALL=C so that bytes stay bytes)
# Lines end at LF, CR or CR LF, as in the programs.

BEGIN {
	print "NOTE"
	print "NOTE Created from " ARGV[1] " by tab2vrex"
	print "NOTE"
	print "NODE"
	previous = -1
}

function item(line,    tabs, done) {
	if (line == "") return
	match(line, /^\t*/)
	tabs = RLENGTH
	for (done = previous - tabs + 1; done > 0; done--) print "DONE"
	print "NODE " substr(line, tabs + 1)
	previous = tabs
}

# A record ending in CR ended at CR or CR LF; any other CR ends a line of its own.
function lines(record,    n, i, part) {
	sub(/\r$/, "", record)
	n = split(record, part, "\r")
	for (i = 1; i <= n; i++) item(part[i])
	if (n == 0) item("")
}

index($0, "\r") { lines($0); next }
{ item($0) }

END {
	print "DONE"
	print "STOP"
}
