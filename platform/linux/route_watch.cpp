// The watch socket: IPv4 route, link, address and nexthop notifications, read without waiting.
#include "platform/linux/route_watch.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/filter.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>

#include "platform/linux/netlink.h"
#include "platform/linux/route_kept.h"
#include "platform/linux/route_message.h"

// Each queued notification costs the buffer 832 bytes (measured): the kernel doubles the figure to
// 256 MiB, which held the 250k notifications of another program's bulk add unread, none lost.
static constexpr int WATCH_RCVBUF = 128 << 20;
// Notifications taken by one receive call; a route notification is far below a slot.
static constexpr unsigned WATCH_SLOTS = 128;
static constexpr size_t WATCH_SLOT_SIZE = 1024;

struct Watch {
	mnl_socket* socket;
	alignas(nlmsghdr) char slots[WATCH_SLOTS][WATCH_SLOT_SIZE];
	iovec pieces[WATCH_SLOTS];
	mmsghdr headers[WATCH_SLOTS];
	bool routes_left;
};
static Watch watch;

// Drops the notifications of the change socket's requests: their results are applied as the
// kernel acknowledges them, so a bulk of our own changes costs the watch socket nothing.
static bool filter_own(int fd, uint32_t portid)
{
	sock_filter code[] = {
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(nlmsghdr, nlmsg_pid)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htonl(portid), 0, 1),
		BPF_STMT(BPF_RET | BPF_K, 0),
		BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
	};
	sock_fprog program = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
	return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

bool watch_open()
{
	if (watch.socket)
		return true;
	if (!netlink_open_change())
		return false;
	mnl_socket* nl = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
	if (!nl)
		return false;
	int fd = mnl_socket_get_fd(nl);
	int size = WATCH_RCVBUF;
	if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	unsigned groups = RTMGRP_IPV4_ROUTE | RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
	int nexthop = RTNLGRP_NEXTHOP;
	if (!filter_own(fd, mnl_socket_get_portid(netlink.change_socket)) ||
	    mnl_socket_bind(nl, groups, MNL_SOCKET_AUTOPID) < 0 ||
	    mnl_socket_setsockopt(nl, NETLINK_ADD_MEMBERSHIP, &nexthop, sizeof nexthop) < 0) {
		int e = errno;
		mnl_socket_close(nl);
		errno = e;
		return false;
	}
	for (unsigned i = 0; i < WATCH_SLOTS; i++) {
		watch.pieces[i] = {watch.slots[i], WATCH_SLOT_SIZE};
		watch.headers[i].msg_hdr.msg_iov = &watch.pieces[i];
		watch.headers[i].msg_hdr.msg_iovlen = 1;
	}
	watch.socket = nl;
	return true;
}

// One notification: a route change to the kept table, anything else to doubt.
static void take_notification(const nlmsghdr* msg)
{
	RouteRow row;
	bool route = msg->nlmsg_type == RTM_NEWROUTE || msg->nlmsg_type == RTM_DELROUTE;
	if (!route) {
		netlink.doubt = true;
	} else if (route_row_of_message(msg, &row)) {
		KeptChange change = msg->nlmsg_flags & NLM_F_REPLACE ? KEPT_REPLACE : KEPT_ADD;
		kept_note(row, msg->nlmsg_type == RTM_DELROUTE ? KEPT_REMOVE : change);
	}
}

void watch_drain()
{
	int fd = mnl_socket_get_fd(watch.socket);
	for (;;) {
		for (unsigned i = 0; i < WATCH_SLOTS; i++)
			watch.headers[i].msg_hdr.msg_flags = 0;
		int got = recvmmsg(fd, watch.headers, WATCH_SLOTS, MSG_DONTWAIT, nullptr);
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0) {
			// EAGAIN: all read. ENOBUFS: notifications were lost; the rest still queued are read.
			if (errno != EAGAIN)
				netlink.doubt = true;
			if (errno == ENOBUFS)
				continue;
			return;
		}
		for (int k = 0; k < got; k++) {
			// A notification cut short (a link's, with its statistics) is a doubt all the same.
			if (watch.headers[k].msg_hdr.msg_flags & MSG_TRUNC) {
				netlink.doubt = true;
				continue;
			}
			int left = static_cast<int>(watch.headers[k].msg_len);
			const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(watch.slots[k]);
			for (; mnl_nlmsg_ok(msg, left); msg = mnl_nlmsg_next(msg, &left))
				take_notification(msg);
		}
	}
}

static bool route_membership(int option)
{
	int group = RTNLGRP_IPV4_ROUTE;
	return mnl_socket_setsockopt(watch.socket, option, &group, sizeof group) == 0;
}

void watch_leave_routes()
{
	if (watch.socket && !watch.routes_left && netlink.doubt)
		watch.routes_left = route_membership(NETLINK_DROP_MEMBERSHIP);
}

bool watch_join_routes()
{
	if (watch.routes_left && route_membership(NETLINK_ADD_MEMBERSHIP))
		watch.routes_left = false;
	return !watch.routes_left;
}
