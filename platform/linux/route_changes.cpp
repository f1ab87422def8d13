// Route changes through rtnetlink: a batch goes out in as few sends as the change socket takes.
// Requests ask for no acknowledgement: the kernel answers a refused one with its error, matched to
// its change by sequence number, and one acknowledged no-op at the end of each send says that every
// request before it without an error was made.
#include "platform/routing.h"

#include <errno.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <bit>

#include "platform/linux/netlink.h"
#include "platform/linux/route_kept.h"
#include "platform/linux/route_message.h"
#include "platform/linux/route_watch.h"

// Room for the largest request: header, rtmsg and four 32-bit attributes come to 60 bytes.
static constexpr size_t REQUEST_ROOM = 64;
// The barrier closing a send: a bare header.
static constexpr size_t BARRIER_ROOM = NLMSG_HDRLEN;
// Acknowledgements taken by one receive call.
static constexpr uint32_t ACK_SLOTS = 256;
// An acknowledgement is 36 bytes, 96 where the kernel lacks NETLINK_CAP_ACK and quotes a refused
// request: none is ever cut short.
static constexpr size_t ACK_SLOT_SIZE = 256;
// Marks a change whose status is not known yet; the kernel's statuses are small errnos.
static constexpr uint32_t UNANSWERED = 0xFFFFFFFF;

// One send: its requests, a batch at most, and its barrier; the answers read back, and whether the
// barrier's came.
struct ChangeSend {
	alignas(nlmsghdr) char requests[ROUTING_BATCH * REQUEST_ROOM + BARRIER_ROOM];
	alignas(nlmsghdr) char acks[ACK_SLOTS][ACK_SLOT_SIZE];
	iovec pieces[ACK_SLOTS];
	mmsghdr headers[ACK_SLOTS];
	uint32_t first_seq;
	uint32_t count;
	bool barrier_answered;
};
static ChangeSend sending;

// The request of one change at buf; gives its aligned length. The kernel tells routes apart by
// destination, length, tos and priority.
static size_t put_change(char* buf, RouteChange change, const RouteRow* row, uint32_t seq)
{
	bool remove = change == ROUTE_DELETE;
	uint16_t flags = 0;
	switch (change) {
	case ROUTE_CREATE:
		flags = NLM_F_CREATE | NLM_F_EXCL;
		break;
	case ROUTE_REWRITE:
		flags = NLM_F_REPLACE;
		break;
	case ROUTE_DELETE:
		break;
	}
	rtmsg* rtm = static_cast<rtmsg*>(
		netlink_request(buf, remove ? RTM_DELROUTE : RTM_NEWROUTE, flags, seq, sizeof(rtmsg)));
	rtm->rtm_family = AF_INET;
	rtm->rtm_dst_len = static_cast<unsigned char>(netlink_length_of(row->mask));
	rtm->rtm_tos = static_cast<unsigned char>(row->policy);
	rtm->rtm_table = RT_TABLE_MAIN;
	if (remove) {
		// Protocol 0 and scope "nowhere" match any; only our own rows are named by protocol.
		rtm->rtm_protocol = row->proto == ROUTE_PROTO_NETMGMT ? RTPROT_LANXROUTE : 0;
		rtm->rtm_scope = RT_SCOPE_NOWHERE;
		rtm->rtm_type = row->type == ROUTE_TYPE_OTHER ? RTN_UNSPEC : RTN_UNICAST;
	} else {
		rtm->rtm_protocol = RTPROT_LANXROUTE;
		rtm->rtm_scope = RT_SCOPE_UNIVERSE;
		rtm->rtm_type = RTN_UNICAST;
	}
	nlmsghdr* nlh = reinterpret_cast<nlmsghdr*>(buf);
	mnl_attr_put_u32(nlh, RTA_DST, row->dest);
	mnl_attr_put_u32(nlh, RTA_PRIORITY, row->metric1);
	// A delete names the route as fetched; a create or a rewrite says where it goes now.
	uint32_t next_hop = remove ? row->fetched_next_hop : row->next_hop;
	uint32_t if_index = remove ? row->fetched_if_index : row->if_index;
	if (next_hop != 0)
		mnl_attr_put_u32(nlh, RTA_GATEWAY, next_hop);
	if (if_index != 0)
		mnl_attr_put_u32(nlh, RTA_OIF, if_index);
	return NLMSG_ALIGN(nlh->nlmsg_len);
}

// The changes of the send without a status get status.
static void answer_rest(uint32_t* statuses, uint32_t status)
{
	for (uint32_t i = 0; i < sending.count; i++)
		if (statuses[i] == UNANSWERED)
			statuses[i] = status;
}

// Takes the answers in one datagram: errors of refused requests and the barrier's acknowledgement.
static void take_acks(const char* datagram, unsigned length, uint32_t portid, uint32_t* statuses)
{
	int left = static_cast<int>(length);
	const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(datagram);
	for (; mnl_nlmsg_ok(msg, left); msg = mnl_nlmsg_next(msg, &left)) {
		if (msg->nlmsg_type != NLMSG_ERROR || !mnl_nlmsg_portid_ok(msg, portid))
			continue;
		// A send's sequence numbers are consecutive: the distance from the first is the change's
		// place, and answers to an earlier send fall outside.
		uint32_t i = msg->nlmsg_seq - sending.first_seq;
		if (i < sending.count && statuses[i] == UNANSWERED)
			statuses[i] = netlink_error_of(msg);
		else if (i == sending.count)
			sending.barrier_answered = true;
	}
}

// The kernel handles a send's requests in order before the send returns, queueing an error for
// each refused one and then the barrier's acknowledgement: reading without waiting misses none,
// and never hangs on one that was dropped.
static void read_acks(uint32_t* statuses)
{
	int fd = mnl_socket_get_fd(netlink.change_socket);
	uint32_t portid = mnl_socket_get_portid(netlink.change_socket);
	bool overrun = false;
	// The normal end: the barrier answered. EAGAIN before it means answers were lost.
	while (!sending.barrier_answered) {
		int got = recvmmsg(fd, sending.headers, ACK_SLOTS, MSG_DONTWAIT, nullptr);
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0 && errno == ENOBUFS && !overrun) {
			// Answers were dropped: take the ones still queued, the rest get ENOBUFS.
			overrun = true;
			netlink.doubt = true;
			continue;
		}
		if (got < 0) {
			netlink.doubt = true;
			answer_rest(statuses, overrun ? ENOBUFS : static_cast<uint32_t>(errno));
			return;
		}
		for (int k = 0; k < got; k++)
			take_acks(sending.acks[k], sending.headers[k].msg_len, portid, statuses);
	}
	// A dropped error may hide behind the barrier's acknowledgement.
	answer_rest(statuses, overrun ? ENOBUFS : 0);
}

// k's lowest bits in reverse order.
static uint32_t bit_reversed(uint32_t k, uint32_t bits)
{
	uint32_t reversed = 0;
	for (uint32_t b = 0; b < bits; b++)
		reversed |= (k >> b & 1) << (bits - 1 - b);
	return reversed;
}

// Sends count changes' requests at once and reads their statuses. A run of changes of one kind
// goes out in the bit-reversed order of its places: the kernel's trie, which grows node by node
// when neighbours come one after another, then resizes less (new routes take a quarter less
// kernel time than in address order). No two changes of a batch name one route, and the kinds
// keep their order.
static void send_changes(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	sending.first_seq = netlink_sequences(count + 1);
	sending.count = count;
	sending.barrier_answered = false;
	size_t bytes = 0;
	for (uint32_t run = 0, end = 0; run < count; run = end) {
		while (end < count && changes[end] == changes[run])
			end++;
		for (uint32_t k = 0, bits = std::bit_width(end - run - 1); k < 1u << bits; k++)
			if (uint32_t i = run + bit_reversed(k, bits); i < end)
				bytes += put_change(sending.requests + bytes, changes[i], &rows[i],
						    sending.first_seq + i);
	}
	std::fill(statuses, statuses + count, UNANSWERED);
	// The kernel acknowledges a no-op that asks for it, after the requests before it.
	netlink_request(sending.requests + bytes, NLMSG_NOOP, NLM_F_ACK, sending.first_seq + count, 0);
	bytes += BARRIER_ROOM;
	if (mnl_socket_sendto(netlink.change_socket, sending.requests, bytes) < 0) {
		answer_rest(statuses, static_cast<uint32_t>(errno));
		return;
	}
	read_acks(statuses);
}

void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	if (count == 0)
		return;
	if (!netlink_open_change()) {
		netlink.doubt = true;
		std::fill(statuses, statuses + count, static_cast<uint32_t>(errno));
		return;
	}
	for (uint32_t i = 0; i < ACK_SLOTS; i++) {
		sending.pieces[i] = {sending.acks[i], ACK_SLOT_SIZE};
		sending.headers[i] = mmsghdr{};
		sending.headers[i].msg_hdr.msg_iov = &sending.pieces[i];
		sending.headers[i].msg_hdr.msg_iovlen = 1;
	}
	// A batch a send, split only where the send buffer takes less or the receive buffer could not
	// hold an error for each and the barrier's acknowledgement.
	size_t request_bytes = netlink.change_send_bytes > BARRIER_ROOM ? netlink.change_send_bytes - BARRIER_ROOM : 0;
	uint32_t per_send = std::min({ROUTING_BATCH, static_cast<uint32_t>(request_bytes / REQUEST_ROOM),
				      netlink.change_ack_room > 1 ? netlink.change_ack_room - 1 : 1});
	per_send = std::max(per_send, 1u);
	for (uint32_t first = 0; first < count; first += per_send)
		send_changes(changes + first, rows + first, std::min(per_send, count - first), statuses + first);
	// The watch socket never sees our own changes: the kept table takes the ones made; a refused
	// one leaves the table in doubt.
	for (uint32_t i = 0; i < count; i++) {
		if (statuses[i] != 0)
			netlink.doubt = true;
		else if (changes[i] == ROUTE_DELETE)
			kept_note(rows[i], KEPT_REMOVE);
		else
			kept_note(route_row_of_request(&rows[i]), KEPT_REPLACE);
	}
	watch_leave_routes();
}
