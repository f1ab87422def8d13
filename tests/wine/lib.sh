# Shared by the wine scripts: in the namespaces of the end-to-end helpers, gives the script a copy of
# a booted template prefix and starts that copy's wine server inside the namespace, so that wine
# reads this namespace's tables (and ends with it).
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
set -euo pipefail
: "${LANX_EXE:?}" "${LANX_WINE_TEMPLATE:?}"
unset DISPLAY WAYLAND_DISPLAY WINEDLLOVERRIDES
export WINEDEBUG=-all WINEARCH=win64 TMPDIR=$work/tmp WINEPREFIX=$work/prefix
run=$work/run
mkdir "$TMPDIR" "$run"

# The template prefix, booted once per build tree and wine version (about 10 s), copied in at once.
(
	flock -w 300 9
	if [ "$(cat "$LANX_WINE_TEMPLATE/.made-by" 2>/dev/null)" != "$(wine --version)" ]; then
		rm -rf "$LANX_WINE_TEMPLATE"
		WINEPREFIX=$LANX_WINE_TEMPLATE WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
		WINEPREFIX=$LANX_WINE_TEMPLATE wineserver -w
		rm -f "$LANX_WINE_TEMPLATE/wineserver"
		wine --version >"$LANX_WINE_TEMPLATE/.made-by"
	fi
) 9>"$LANX_WINE_TEMPLATE.lock"
cp -a "$LANX_WINE_TEMPLATE" "$WINEPREFIX"
wineserver -p
cp "$LANX_EXE" "$run/lanxroute.exe"

# lanx ARGS...: the program in $run; sets status, its streams in $run/out and $run/err.
lanx() { status=0; (cd "$run" && wine lanxroute.exe "$@") >"$run/out" 2>"$run/err" || status=$?; }
copies() { pgrep -fa 'lanxroute\.exe' | grep -v defunct | cut -d' ' -f2- || true; }
log() { tr -d '\r' <"$run/lanxroute.log"; }
