#!/usr/bin/env bash
# A hostile local user (nobody) and the shared word: files planted before the start are refused
# and left alone; while the copy runs, the user can neither remove, replace nor write the word,
# and a command run as that user reaches nothing.
#
#   private network + mount namespace (lib.sh, faults_lib.sh), /dev/shm a fresh sticky tmpfs:
#
#     nobody: files in /dev/shm, $LANX_BIN --exit / --verbose
#     root:   $LANX_BIN (background copy, cwd $run) <---> /dev/shm/LanxRouteShmem
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/faults_lib.sh"

word=/dev/shm/LanxRouteShmem
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
chmod 0755 "$work" "$run" || fail "a working directory nobody can enter"
[ "$(stat -c %a /dev/shm)" = 1777 ] || fail "/dev/shm is not sticky: $(stat -c %a /dev/shm)"
# Owner, mode, size, kind and bytes (a FIFO's are not read: that would wait for a writer).
state() {
	local f
	stat -c '%U %a %s %F' "$@" 2>&1
	for f; do [ -p "$f" ] || od -An -tx1 "$f" 2>/dev/null || true; done
}

# --- Planted before the start: the start is refused with a clear line, the file stays. ---
# The rows: what, the errnos the kernel may give, how nobody plants it.
protected_regular=$(cat /proc/sys/fs/protected_regular)
[ "$protected_regular" = 0 ] && owned_code=1 || owned_code=13
printf 'secret\n' >/run/target && chmod 0600 /run/target || fail "root's file"
while IFS='|' read -r what code plant; do
	as_nobody bash -c "$plant" || fail "$what: planting"
	before=$(state "$word" /run/target)
	lanx "$URL" "$LANX_GW" "$WORLD_GW"
	expect_eq "$status" 1 "$what: start status"
	[[ " $code " == *" $(sed -n 's/^Cannot determine whether LanxRoute is already running (error code \([0-9]*\))$/\1/p' <<<"$err") "* ]] ||
		fail "$what: message '$err', wanted error code $code"
	expect_eq "$(state "$word" /run/target)" "$before" "$what: the planted file and root's file"
	gone || fail "$what: a copy runs"
	[ ! -e "$run/lanxroute.log" ] || fail "$what: the background road was taken"
	rm -rf "$word"
done <<ROWS
a word owned by nobody, mode 0600|$owned_code|printf ABCD >$word && chmod 0600 $word
a word owned by nobody, mode 0666|$owned_code|printf ABCD >$word && chmod 0666 $word
nobody's symbolic link to root's file|40 13|ln -s /run/target $word
a FIFO of nobody's|22|mkfifo -m 0600 $word
ROWS
expect_eq "$(cat /run/target)" "secret" "root's file behind the link"

# --- Planted while the copy runs: nothing the user does stops or steers it. ---
lanx "$URL" "$LANX_GW" "$WORLD_GW"
expect_eq "$status" 0 "start status"
wait_for 15 routes_are 10.0.0.0/7 || fail "no routes: $(ours)"
held=$(state "$word")
expect_eq "$(stat -c '%U %a %s' "$word")" "root 600 4" "the word of the running copy"
# The sticky directory keeps another user's hands off root's file; the user's own files beside it
# change nothing.
! as_nobody rm -f "$word" 2>/dev/null || fail "nobody removed the word"
! as_nobody ln -sf /run/target "$word" 2>/dev/null || fail "nobody replaced the word by a link"
! as_nobody mv -f /dev/null "$word" 2>/dev/null || fail "nobody moved something onto the word"
! as_nobody bash -c "printf '\x40\0\0\0' >$word" 2>/dev/null || fail "nobody wrote the word"
as_nobody bash -c "printf '\x40\0\0\0' >/dev/shm/LanxRouteShmem.new && ln -s $word /dev/shm/lanx" || fail "nobody's own files"
# Commands run as nobody cannot open the word, say so, and reach nothing.
for command in --exit --verbose -40 "$LANX_GW $WORLD_GW"; do
	status=0
	# shellcheck disable=SC2086
	(cd "$run" && as_nobody "$LANX_BIN" $command) 2>"$work/err" || status=$?
	expect_eq "$status" 1 "status of '$command' as nobody"
	expect_eq "$(cat "$work/err")" "Cannot determine whether LanxRoute is already running (error code 13)" "message of '$command' as nobody"
done
expect_eq "$(state "$word")" "$held" "the word after nobody's attempts"
cycles=$(count_lines "Updated route table successfully")
wait_for 15 lines_at_least "Updated route table successfully" $((cycles + 2)) || fail "the copy stopped cycling"
expect_eq "$(ndaemons)" 1 "copies after nobody's attempts"
! log | grep -q '^IF ID: ' || fail "nobody's --verbose reached the copy"
expect_eq "$(log | grep -c '^Exiting$' || true)" 0 "exit lines after nobody's attempts"
# Root's command still reaches the copy.
lanx --exit
expect_eq "$status" 1 "root's exit request"
expect_eq "$err" "" "root's exit request, message"
wait_for 15 gone || fail "the copy did not end on root's --exit"
expect_eq "$(log | tail -n 1)" "Exiting" "last line"
rm -f /dev/shm/LanxRouteShmem.new /dev/shm/lanx /run/target "$word"
echo "PASS: faults_word"
