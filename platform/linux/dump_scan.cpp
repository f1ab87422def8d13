// An rtnetlink dump read message by message from the dump socket.
#include "platform/linux/dump_scan.h"

#include <errno.h>
#include <linux/rtnetlink.h>

#include "platform/linux/netlink.h"

// At least libmnl's dump size, so that no dump message is truncated.
static constexpr size_t DUMP_READ_SIZE = 65536;

// The dump being read: its last datagram, where the next message starts, and how it ended.
struct DumpScan {
	alignas(nlmsghdr) char buffer[DUMP_READ_SIZE];
	const nlmsghdr* next;
	int left;
	uint32_t seq;
	uint32_t portid;
	uint16_t row_type;
	bool ended;
	uint32_t status;
	FetchStep failed;
};
static DumpScan scan;

void end_dump(uint32_t status, FetchStep failed)
{
	scan.ended = true;
	scan.status = status;
	scan.failed = failed;
	// The rest of a failed dump may still be queued: the next one starts on a new socket.
	if (status != 0)
		netlink_drop_dump();
}

// Readies the scan for a dump of row_type messages; false, the dump ended, without a socket.
// Linux has no size query: FETCH_SIZE ("(0)") means the dump's request could not be sent.
static bool begin_dump(uint16_t row_type)
{
	scan.left = 0;
	scan.ended = false;
	scan.status = 0;
	if (!netlink_open_dump()) {
		end_dump(static_cast<uint32_t>(errno), FETCH_SIZE);
		return false;
	}
	scan.seq = netlink_sequences(1);
	scan.portid = mnl_socket_get_portid(netlink.dump_socket);
	scan.row_type = row_type;
	return true;
}

static bool send_dump(const char* request)
{
	const nlmsghdr* nlh = reinterpret_cast<const nlmsghdr*>(request);
	if (mnl_socket_sendto(netlink.dump_socket, nlh, nlh->nlmsg_len) < 0) {
		end_dump(static_cast<uint32_t>(errno), FETCH_SIZE);
		return false;
	}
	return true;
}

bool start_route_dump()
{
	if (!begin_dump(RTM_NEWROUTE))
		return false;
	alignas(nlmsghdr) char request[MNL_SOCKET_BUFFER_SIZE];
	rtmsg* rtm = static_cast<rtmsg*>(netlink_request(request, RTM_GETROUTE, NLM_F_DUMP, scan.seq, sizeof(rtmsg)));
	rtm->rtm_family = AF_INET;
	rtm->rtm_table = RT_TABLE_MAIN;
	return send_dump(request);
}

bool start_address_dump()
{
	if (!begin_dump(RTM_NEWADDR))
		return false;
	alignas(nlmsghdr) char request[MNL_SOCKET_BUFFER_SIZE];
	ifaddrmsg* ifa =
		static_cast<ifaddrmsg*>(netlink_request(request, RTM_GETADDR, NLM_F_DUMP, scan.seq, sizeof(ifaddrmsg)));
	ifa->ifa_family = AF_INET;
	return send_dump(request);
}

const nlmsghdr* next_dump_message()
{
	while (!scan.ended) {
		if (!mnl_nlmsg_ok(scan.next, scan.left)) {
			ssize_t n = mnl_socket_recvfrom(netlink.dump_socket, scan.buffer, sizeof scan.buffer);
			if (n < 0) {
				// ENOBUFS: the kernel dropped part of the dump.
				end_dump(static_cast<uint32_t>(errno), FETCH_TABLE);
				break;
			}
			scan.next = reinterpret_cast<const nlmsghdr*>(scan.buffer);
			scan.left = static_cast<int>(n);
			continue;
		}
		const nlmsghdr* msg = scan.next;
		scan.next = mnl_nlmsg_next(msg, &scan.left);
		if (!mnl_nlmsg_portid_ok(msg, scan.portid) || !mnl_nlmsg_seq_ok(msg, scan.seq))
			continue;
		if (msg->nlmsg_flags & NLM_F_DUMP_INTR) {
			// The table changed during the dump: the rows may be inconsistent.
			end_dump(EINTR, FETCH_TABLE);
		} else if (msg->nlmsg_type == NLMSG_DONE) {
			end_dump(0, FETCH_TABLE);
		} else if (msg->nlmsg_type == NLMSG_ERROR) {
			uint32_t status = netlink_error_of(msg);
			end_dump(status != 0 ? status : EPROTO, FETCH_TABLE);
		} else if (msg->nlmsg_type == scan.row_type) {
			return msg;
		}
	}
	return nullptr;
}

uint32_t dump_status(FetchStep* failed)
{
	if (scan.status != 0)
		*failed = scan.failed;
	return scan.status;
}
