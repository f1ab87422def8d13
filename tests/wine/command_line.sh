#!/usr/bin/env bash
# The Windows program under wine: the usage banner and the argument errors with their exact texts and
# statuses, and "--exit" with no copy running. No network beyond the namespace's loopback.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

# The release artefact: a 64-bit program that needs no DLL beyond those every Windows host has.
objdump=x86_64-w64-mingw32-objdump
if command -v "$objdump" >/dev/null; then
	"$objdump" -f "$LANX_EXE" | grep -q 'file format pei-x86-64' || fail "lanxroute.exe is not x86_64"
	dlls=$("$objdump" -p "$LANX_EXE" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr a-z A-Z | sort | tr '\n' ' ')
	expect_eq "$dlls" "IPHLPAPI.DLL KERNEL32.DLL MSVCRT.DLL RASAPI32.DLL WININET.DLL WS2_32.DLL " "imported DLLs"
fi

usage=(
	"LanxRoute version 1.1"
	"Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]"
	""
	"  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute"
	"  or   lanxroute  --exit asks the running copy of lanxroute to exit."
)

# description | arguments | the one line on standard error ("usage" for the banner)
while IFS='|' read -r what args message; do
	[ -n "$what" ] || continue
	read -r -a argv <<<"$args"
	lanx "${argv[@]}"
	expect_eq "$status" 1 "$what: status"
	expect_stream "$wine_work/out" "$what: standard output"
	if [ "$message" = usage ]; then
		expect_stream "$wine_work/err" "$what: standard error" "${usage[@]}"
	else
		expect_stream "$wine_work/err" "$what: standard error" "$message"
	fi
done <<'EOF'
no argument at all||usage
a lone gateway|10.0.0.1|usage
a partner that is no address, then an entry name|10.0.0.1 bogus MyLink|usage
0.0.0.0 is no gateway|0.0.0.0 10.0.0.2 MyLink|usage
a numeric flag with no digit|-zz 10.0.0.1 10.0.0.2|Invalid numeric flag zz.
single-dash verbose is a numeric flag|-verbose|Invalid numeric flag verbose.
single-dash no-fork is a numeric flag|-no-fork 10.0.0.1 10.0.0.2|Invalid numeric flag no-fork.
a bad flag after a good pair|10.0.0.1 10.0.0.2 -q|Invalid numeric flag q.
a url that is only a host|@http://host 10.0.0.1 10.0.0.2|Invalid list url http://host.
a lone at sign|@|Invalid list url .
a url without a path, no scheme|@host.example|Invalid list url host.example.
EOF
[ ! -e "$run/lanxroute.log" ] || fail "a refused command line opened the log: $(log)"
no_exe || fail "a refused command line left a copy running"

# "--exit" with no copy running: this process is the background copy and ends at its first exit test.
for round in 1 2; do
	lanx --exit
	expect_eq "$status" 0 "--exit alone, round $round: status"
	expect_stream "$wine_work/out" "--exit alone: standard output"
	expect_stream "$wine_work/err" "--exit alone: standard error"
done
# The log is appended to, in text mode: each line ends in CR LF.
expect_stream "$run/lanxroute.log" "log after two --exit runs" \
	"--------------" "" "Exiting" "--------------" "" "Exiting"
no_exe || fail "--exit left a copy running"
