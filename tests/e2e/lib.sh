# Shared by the end-to-end scripts: private namespaces, polling, assertions.
# Source it first thing; it re-runs the calling script inside a network and mount namespace of
# its own, with fresh tmpfs on /dev/shm and /run and the loopback up, so nothing leaks out.

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$(id -u)" != 0 ]; then
	echo "SKIP: needs root" >&2
	exit 0
fi

if [ -z "${LANX_IN_NAMESPACE:-}" ]; then
	export LANX_IN_NAMESPACE=1
	exec unshare --net --mount --propagation private -- bash "$0" "$@"
fi
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
ip link set lo up

# wait_for SECONDS COMMAND...: polls COMMAND every 50 ms until it succeeds or the time is up.
wait_for() {
	local deadline=$((SECONDS + $1)); shift
	until "$@"; do
		[ "$SECONDS" -lt "$deadline" ] || return 1
		sleep 0.05
	done
}

# expect_eq ACTUAL EXPECTED WHAT
expect_eq() {
	[ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"
}
