# SPDX-License-Identifier: MIT
# Vrex outline file to tab outline, for comparison with vrex2tab.
# Usage: awk -f vrex2tab.awk FILE   (run with LC_ALL=C so that bytes stay bytes)
# Lines end at LF, CR or CR LF, as in the programs.

BEGIN { open_nodes = 0; tabs = "" }

function record(line,    keyword, depth) {
	if (length(line) < 4) return
	keyword = substr(line, 1, 4)
	if (open_nodes == 0) {
		if (keyword == "STOP") exit
		if (keyword == "NODE") open_nodes = 1  # a root: its text is never written
	} else if (keyword == "DONE") {
		open_nodes--
	} else if (keyword == "NODE") {
		depth = open_nodes - 1
		while (length(tabs) < depth) tabs = tabs tabs "\t"
		print substr(tabs, 1, depth) substr(line, 6)
		open_nodes++
	}
}

# A record ending in CR ended at CR or CR LF; any other CR ends a line of its own.
function lines(record_line,    n, i, part) {
	sub(/\r$/, "", record_line)
	n = split(record_line, part, "\r")
	for (i = 1; i <= n; i++) record(part[i])
}

index($0, "\r") { lines($0); next }
{ record($0) }
