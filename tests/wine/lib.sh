# Shared by the scripts that run the Windows program under wine. Source it first thing.
# Through the end-to-end helpers it re-runs the script in network + mount namespaces of its own; then
# it makes the template prefix once per build tree, gives this test a copy of it, and starts that
# copy's wine server inside the namespace (a server started outside would read the host's tables).
# The server's socket folder (TMPDIR) and the copy live on this namespace's /run, so they go with it.

wine_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$wine_lib/../e2e/lib.sh"
: "${LANX_EXE:?LANX_EXE must name the Windows program}"
: "${LANX_WINE_TEMPLATE:?LANX_WINE_TEMPLATE must name the template prefix}"
command -v wine >/dev/null || fail "wine is not installed"

unset DISPLAY WAYLAND_DISPLAY WINEDLLOVERRIDES
export WINEDEBUG=-all WINEARCH=win64

wine_work=$(mktemp -d /run/lanx_wine.XXXXXX)
export TMPDIR=$wine_work/tmp
export WINEPREFIX=$wine_work/prefix
mkdir "$TMPDIR"
at_exit wine_cleanup

# The template: a booted 64-bit prefix, made by the first test that finds none (about 10 s) and
# remade when wine changes; later tests copy it in under a second.
wine_template() {
	local t=$LANX_WINE_TEMPLATE version lock
	version=$(wine --version)
	mkdir -p "$(dirname "$t")"
	exec {lock}>"$t.lock"
	flock -w 300 "$lock" || fail "template prefix is locked"
	if [ "$(cat "$t/.made-by" 2>/dev/null)" != "$version" ]; then
		rm -rf "$t" "$t.new"
		WINEPREFIX=$t.new WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$wine_work/wineboot.log" 2>&1 ||
			fail "wineboot: $(cat "$wine_work/wineboot.log")"
		WINEPREFIX=$t.new wineserver -w
		# Names the server's socket folder under TMPDIR; each copy makes its own.
		rm -f "$t.new/wineserver"
		echo "$version" >"$t.new/.made-by"
		mv "$t.new" "$t"
	fi
	exec {lock}>&-
}

# The processes of this test's prefix: the server and every Windows program it runs.
wine_pids() {
	local p
	for p in /proc/[0-9]*; do
		case "$(readlink "$p/exe" 2>/dev/null)" in /usr/lib/wine/*) ;; *) continue ;; esac
		grep -qzx -- "WINEPREFIX=$WINEPREFIX" "$p/environ" 2>/dev/null && echo "${p#/proc/}"
	done
	return 0
}

# The copies of the program running in this prefix (the wine process shows the Windows command line).
exe_pids() {
	local p
	for p in $(wine_pids); do
		tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q 'lanxroute\.exe' && echo "$p"
	done
	return 0
}
no_exe() { [ -z "$(exe_pids)" ]; }
no_wine() { [ -z "$(wine_pids)" ]; }

# Ends this prefix's server, which takes its programs with it, then removes the copy.
wine_cleanup() {
	local p
	if [ -d "$WINEPREFIX" ]; then
		wineserver -k 2>/dev/null || true
		wait_for 10 no_wine || for p in $(wine_pids); do kill -9 "$p" 2>/dev/null || true; done
		wait_for 5 no_wine || echo "wine processes left: $(wine_pids)" >&2
	fi
	rm -rf "$wine_work"
}

wine_template
cp -a "$LANX_WINE_TEMPLATE" "$WINEPREFIX"
wineserver -p || fail "wine server did not start"

# The exe runs from a folder of its own, which is also the folder of its log and static file.
run=$wine_work/run
mkdir "$run"
cp "$LANX_EXE" "$run/lanxroute.exe"

# lanx ARGS...: the program in $run under wine; sets status; its streams are in $wine_work/out and err.
lanx() {
	status=0
	(cd "$run" && wine lanxroute.exe "$@") >"$wine_work/out" 2>"$wine_work/err" || status=$?
}
log() { cat "$run/lanxroute.log" 2>/dev/null || true; }
# Lines of the log with their CR removed, for whole-line matches.
log_lines() { log | tr -d '\r'; }
count_lines() { log_lines | grep -c -x -- "$1" || true; }
lines_at_least() { [ "$(count_lines "$1")" -ge "$2" ]; }
crlf() { printf '%s\r\n' "$@"; }
# expect_stream FILE WHAT [LINE...]: FILE holds exactly these lines, each ended by CR LF (none: empty).
expect_stream() {
	local file=$1 what=$2
	shift 2
	if [ "$#" = 0 ]; then
		[ ! -s "$file" ] || fail "$what: expected nothing, got: $(od -c "$file" | head -5)"
	else
		cmp -s "$file" <(crlf "$@") ||
			fail "$what: differs (< expected, > got, ^M is CR):"$'\n'"$(diff <(crlf "$@" | cat -A) <(cat -A "$file"))"
	fi
}
