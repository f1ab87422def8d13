#!/usr/bin/env bash
# The shared word of the real binary: the single-instance test, words planted by someone else,
# and the hand-over of the locked descriptor at number 3.
#
#   private network + mount namespace (lib.sh), fresh tmpfs on /dev/shm and /run, no links:
#
#     holder.py ---- lock ----> /dev/shm/LanxRouteShmem <---- $LANX_BIN (one invocation at a time)
#        \___ or: locks, moves its descriptor to 3, execs $LANX_BIN
set -euo pipefail
source "$(dirname "$0")/lib.sh"

word=/dev/shm/LanxRouteShmem
work=$(mktemp -d /run/lanx_word.XXXXXX)
holder_pid=

# The pids of the program's processes in this network namespace.
our_copies() {
	local ns exe p
	ns=$(readlink /proc/self/ns/net)
	exe=$(readlink -f "$LANX_BIN")
	for p in /proc/[0-9]*; do
		if [ "$(readlink "$p/ns/net" 2>/dev/null)" = "$ns" ] && [ "$(readlink "$p/exe" 2>/dev/null)" = "$exe" ]; then
			echo "${p#/proc/}"
		fi
	done
}
no_copy_runs() { [ -z "$(our_copies)" ]; }

cleanup() {
	if [ -n "$holder_pid" ]; then
		kill "$holder_pid" 2>/dev/null || true
		wait "$holder_pid" 2>/dev/null || true
	fi
	# A background copy must not outlive the script, whatever went wrong.
	local pid
	for pid in $(our_copies); do kill "$pid" 2>/dev/null || true; done
	rm -rf "$work" "$word" /dev/shm/other
}
trap cleanup EXIT

# The other side of the word, in python3:
#   shared READY        take a POSIX read lock (it conflicts with the program's OFD locks), wait
#   handover CMD...     create the word as a new first copy does, move the hold to 3, exec CMD
#   foreign PATH CMD... OFD-lock another file, put it at 3, exec CMD
cat >"$work/holder.py" <<'EOF'
import fcntl, os, signal, struct, sys

WORD = "/dev/shm/LanxRouteShmem"

def ofd_lock(fd, kind):
    fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack("hhqqixxxx", kind, 0, 0, 0, 0))

def at_three_exec(fd, cmd):
    if fd != 3:
        os.dup2(fd, 3)
    os.set_inheritable(3, True)
    os.execv(cmd[0], cmd)

mode = sys.argv[1]
if mode == "shared":
    fd = os.open(WORD, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o600)
    os.ftruncate(fd, 4)
    fcntl.lockf(fd, fcntl.LOCK_SH)
    open(sys.argv[2], "w").close()
    signal.pause()
elif mode == "handover":
    fd = os.open(WORD, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o600)
    ofd_lock(fd, fcntl.F_WRLCK)
    os.ftruncate(fd, 4)
    ofd_lock(fd, fcntl.F_RDLCK)
    at_three_exec(fd, sys.argv[2:])
elif mode == "foreign":
    fd = os.open(sys.argv[2], os.O_RDWR | os.O_CREAT, 0o600)
    os.ftruncate(fd, 4)
    ofd_lock(fd, fcntl.F_RDLCK)
    at_three_exec(fd, sys.argv[3:])
EOF

# run [PREFIX...] -- ARGS...: the program in $work; sets status and err.
run() {
	local prefix=()
	while [ "$1" != -- ]; do prefix+=("$1"); shift; done
	shift
	status=0
	(cd "$work" && "${prefix[@]}" "$LANX_BIN" "$@") 2>"$work/err" || status=$?
	err=$(cat "$work/err")
}

word_value() { od -An -tx4 -N4 "$word" | tr -d ' '; }

start_holder() {
	rm -f "$work/ready"
	python3 "$work/holder.py" shared "$work/ready" &
	holder_pid=$!
	wait_for 10 test -e "$work/ready" || fail "the holder never took the word"
}

stop_holder() {
	kill "$holder_pid"
	wait "$holder_pid" 2>/dev/null || true
	holder_pid=
}

banner="LanxRoute version 1.1
Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]

  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute
  or   lanxroute  --exit asks the running copy of lanxroute to exit."

# No argument: the banner, and the word is never created.
run --
expect_eq "$status" 1 "status without arguments"
expect_eq "$err" "$banner" "banner without arguments"
[ ! -e "$word" ] || fail "the word was created without arguments"

# A copy holds the word: every invocation is a command to it.
start_holder
run -- 10.0.0.1 10.0.0.2
expect_eq "$status" 1 "status with a copy running"
expect_eq "$err" "LanxRoute is already running." "message with a copy running"
expect_eq "$(word_value)" 00000000 "gateways alone clear the word"
run -- --verbose
expect_eq "$err" "LanxRoute is already running." "message after --verbose"
expect_eq "$(word_value)" 0000003e "word after --verbose"
run -- --no-fork 10.0.0.1 10.0.0.2
expect_eq "$status" 1 "status of --no-fork with a copy running"
expect_eq "$err" "LanxRoute is already running." "message of --no-fork with a copy running"
run -- --exit
expect_eq "$status" 1 "status of --exit with a copy running"
expect_eq "$err" "" "--exit with a copy running is silent"
expect_eq "$(word_value)" 00000040 "word after --exit"
[ ! -e "$work/lanxroute.log" ] || fail "a command to a running copy opened the log"

# A descriptor 3 that is not a hand-over is never taken for one: the word stays held.
run -- --no-fork -ff 3<>"$word"
expect_eq "$status" 1 "status with an unlocked descriptor 3 on the word"
expect_eq "$err" "" "an unlocked descriptor 3 on the word is not a hand-over"
run python3 "$work/holder.py" foreign /dev/shm/other -- --no-fork -ff
expect_eq "$status" 1 "status with a locked descriptor 3 on another file"
expect_eq "$err" "" "a locked descriptor 3 on another file is not a hand-over"
[ ! -e "$work/lanxroute.log" ] || fail "a refused hand-over ran the background copy"

# The hold ends with its process: the next copy finds the word new, and makes it.
stop_holder
run -- --exit
expect_eq "$status" 0 "status of --exit with no copy running"
expect_eq "$err" "" "--exit with the word left by an ended copy"
grep -q '^Exiting$' "$work/lanxroute.log" || fail "the copy run by --exit did not log its exit"
rm -f "$work/lanxroute.log" "$word"
run -- --exit
expect_eq "$status" 0 "status of --exit creating the word"
expect_eq "$err" "" "--exit with no copy running writes nothing to standard error"
grep -q '^Exiting$' "$work/lanxroute.log" || fail "the copy run by --exit did not log its exit"
expect_eq "$(stat -c '%a %s' "$word")" "600 4" "mode and size of a new word"
expect_eq "$(word_value)" 00000040 "the new word holds what --exit stored"
rm -f "$work/lanxroute.log" "$word"

# A hand-over: the locked descriptor at 3 makes this process the holder of a new word.
run python3 "$work/holder.py" handover -- --exit
expect_eq "$status" 0 "status of a handed-over copy"
expect_eq "$err" "" "a handed-over copy is not a second invocation"
grep -q '^Exiting$' "$work/lanxroute.log" || fail "the handed-over copy did not log its exit"
rm -f "$work/lanxroute.log" "$word"

# The real relaunch: the detached copy holds the word it was handed, until --exit ends it.
run -- 10.0.0.1 10.0.0.2
expect_eq "$status" 0 "status of the relaunch"
expect_eq "$err" "" "the relaunch writes nothing to standard error"
wait_for 10 test -n "$(our_copies)" || fail "no background copy after the relaunch"
run -- 10.0.0.1 10.0.0.2
expect_eq "$status" 1 "status of an invocation while the detached copy runs"
expect_eq "$err" "LanxRoute is already running." "the detached copy holds the word"
run -- --exit
expect_eq "$status" 1 "status of --exit to the detached copy"
expect_eq "$err" "" "--exit to the detached copy is silent"
wait_for 20 no_copy_runs || fail "the detached copy did not end on --exit"
grep -q '^Exiting$' "$work/lanxroute.log" || fail "the detached copy did not log its exit"
rm -f "$work/lanxroute.log" "$word"

# Words planted by someone else are refused and left exactly as they were.
no_log() { [ ! -e "$work/lanxroute.log" ]; }
refused() { # WHAT ERRNO PATH...
	local what=$1 code=$2; shift 2
	local before after
	before=$(stat -c '%u %a %s %F' "$@"; cat "$@" 2>/dev/null || true)
	run -- --exit
	after=$(stat -c '%u %a %s %F' "$@"; cat "$@" 2>/dev/null || true)
	expect_eq "$status" 1 "status for $what"
	expect_eq "$err" "Cannot determine whether LanxRoute is already running (error code $code)" "message for $what"
	expect_eq "$after" "$before" "$what left as it was"
	no_log || fail "$what: the background copy ran"
}

printf ABCD >"$word"; chmod 0600 "$word"; chown nobody "$word"
if [ "$(cat /proc/sys/fs/protected_regular)" = 0 ]; then eperm_or_kernel=1; else eperm_or_kernel=13; fi
refused "a word owned by nobody" "$eperm_or_kernel" "$word"
rm -f "$word"

for mode in 0640 0606 0604; do
	printf ABCD >"$word"; chmod "$mode" "$word"
	refused "a word with mode $mode" 13 "$word"
	rm -f "$word"
done

printf ABCD >"$work/target"; chmod 0600 "$work/target"
ln -s "$work/target" "$word"
refused "a symbolic link" 40 "$work/target"
[ -L "$word" ] || fail "the symbolic link was replaced"
rm -f "$word" "$work/target"

mkdir "$word"
refused "a directory" 21 "$word"
rmdir "$word"
