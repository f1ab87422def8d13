# Shared by the wine scripts: re-runs the script in network + mount namespaces of its own (loopback
# up, fresh /run), gives it a copy of a booted template prefix and starts that copy's wine server
# inside the namespace, so that wine reads this namespace's tables.
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root" >&2; exit 0; }
if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	LANX_IN_NAMESPACE=1 exec unshare --net --mount --propagation private -- bash "$0" "$@"
fi
set -euo pipefail
mount -t tmpfs tmpfs /run
ip link set lo up
: "${LANX_EXE:?}" "${LANX_WINE_TEMPLATE:?}"
unset DISPLAY WAYLAND_DISPLAY WINEDLLOVERRIDES http_proxy HTTP_PROXY no_proxy
export WINEDEBUG=-all WINEARCH=win64 TMPDIR=/run/tmp WINEPREFIX=/run/prefix
run=/run/run
mkdir "$TMPDIR" "$run"
trap 'wineserver -k 2>/dev/null || true' EXIT

wait_for() { local deadline=$((SECONDS + 30)); until "$@"; do [ "$SECONDS" -lt "$deadline" ] || return 1; sleep 0.05; done; }
expect() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }

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
gone() { [ -z "$(copies)" ]; }
log() { tr -d '\r' <"$run/lanxroute.log"; }
