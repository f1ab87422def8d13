// The routing layer's rtnetlink sockets and the pieces of their messages.
#include "platform/linux/netlink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>

// A large table arrives faster than one read takes it; a few MiB keep the dump from overrunning.
static constexpr int DUMP_RCVBUF = 8 << 20;
// A whole send's acknowledgements wait here until read (the kernel doubles the figure).
static constexpr int CHANGE_RCVBUF = 8 << 20;
// What one queued acknowledgement costs the receive buffer: the kernel counts the socket buffer
// around its 36 bytes, measured at 832 on x86-64 (Linux 6.18); the rest is margin.
static constexpr uint32_t ACK_TRUESIZE = 1280;
// The kernel refuses a send within this much of the send buffer.
static constexpr size_t SEND_OVERHEAD = 32;

Netlink netlink;

static mnl_socket* open_socket(int rcvbuf)
{
	mnl_socket* nl = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
	if (!nl)
		return nullptr;
	if (mnl_socket_bind(nl, 0, MNL_SOCKET_AUTOPID) < 0) {
		int e = errno;
		mnl_socket_close(nl);
		errno = e;
		return nullptr;
	}
	// The forced size passes net.core.rmem_max; changing routes needs the same capability.
	int fd = mnl_socket_get_fd(nl);
	if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) < 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
	return nl;
}

static int socket_size(mnl_socket* nl, int option)
{
	int size = 0;
	socklen_t length = sizeof size;
	getsockopt(mnl_socket_get_fd(nl), SOL_SOCKET, option, &size, &length);
	return size;
}

bool netlink_open_dump()
{
	if (!netlink.dump_socket)
		netlink.dump_socket = open_socket(DUMP_RCVBUF);
	return netlink.dump_socket != nullptr;
}

void netlink_drop_dump()
{
	if (netlink.dump_socket)
		mnl_socket_close(netlink.dump_socket);
	netlink.dump_socket = nullptr;
}

bool netlink_open_change()
{
	if (netlink.change_socket)
		return true;
	mnl_socket* nl = open_socket(CHANGE_RCVBUF);
	if (!nl)
		return false;
	// A refusal then comes without a copy of its request; older kernels lack the option.
	int on = 1;
	mnl_socket_setsockopt(nl, NETLINK_CAP_ACK, &on, sizeof on);
	netlink.change_socket = nl;
	int send_buffer = socket_size(nl, SO_SNDBUF);
	netlink.change_send_bytes = send_buffer > 2 * static_cast<int>(SEND_OVERHEAD)
					    ? static_cast<size_t>(send_buffer) - SEND_OVERHEAD
					    : SEND_OVERHEAD;
	netlink.change_ack_room = static_cast<uint32_t>(std::max(socket_size(nl, SO_RCVBUF), 0)) / ACK_TRUESIZE;
	return true;
}

uint32_t netlink_sequences(uint32_t count)
{
	// Starting from the clock keeps a new run's numbers away from answers left to an old one.
	if (netlink.sequence == 0)
		netlink.sequence = static_cast<uint32_t>(time(nullptr));
	uint32_t first = netlink.sequence + 1;
	netlink.sequence += count;
	return first;
}

void* netlink_request(char* buf, uint16_t type, uint16_t flags, uint32_t seq, size_t family_size)
{
	nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
	nlh->nlmsg_type = type;
	nlh->nlmsg_flags = NLM_F_REQUEST | flags;
	nlh->nlmsg_seq = seq;
	return mnl_nlmsg_put_extra_header(nlh, family_size);
}

uint32_t netlink_error_of(const nlmsghdr* msg)
{
	if (mnl_nlmsg_get_payload_len(msg) < sizeof(int))
		return EPROTO;
	const nlmsgerr* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(msg));
	return err->error <= 0 ? static_cast<uint32_t>(-err->error) : EPROTO;
}

const nlattr* netlink_first_attr(const nlmsghdr* nlh, size_t offset)
{
	return static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, offset));
}

bool netlink_attr_ok(const nlmsghdr* nlh, const nlattr* attr)
{
	const char* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
	return mnl_attr_ok(attr, static_cast<int>(tail - reinterpret_cast<const char*>(attr)));
}

// The kernel never reports an IPv4 length above 32; if it did, the shift must still be defined.
uint32_t netlink_mask_of(unsigned length)
{
	return length == 0 ? 0 : htonl(~0u << (32 - std::min(length, 32u)));
}

unsigned netlink_length_of(uint32_t mask)
{
	return static_cast<unsigned>(__builtin_popcount(mask));
}
