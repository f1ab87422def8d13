// The forwarding table through rtnetlink: IPv4, main table only.
#include "platform/routing.h"

#include <arpa/inet.h>
#include <errno.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Our routes carry this protocol number; the sweep deletes nothing else.
static constexpr unsigned char RTPROT_LANXROUTE = 76;
// At least libmnl's dump size, so that no dump message is truncated.
static constexpr size_t DUMP_READ_SIZE = 65536;
static constexpr int DUMP_RCVBUF = 8 << 20;
// Room for a whole window of answers, failures quoting their request, with the kernel's overhead.
static constexpr int CHANGE_RCVBUF = 1 << 20;
// A route request is well under this; the window's requests go out in one send.
static constexpr size_t CHANGE_SLOT = 128;
static constexpr size_t ANSWER_SIZE = 512;
static constexpr uint32_t ROUTING_WINDOW = 64;

static mnl_socket* dump_socket;
static mnl_socket* change_socket;
static uint32_t sequence;
alignas(nlmsghdr) static char dump_buffer[DUMP_READ_SIZE];

static mnl_socket* open_socket()
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
	return nl;
}

static uint32_t next_sequence()
{
	if (sequence == 0)
		sequence = static_cast<uint32_t>(time(nullptr));
	return ++sequence;
}

static bool open_dump_socket()
{
	if (dump_socket)
		return true;
	dump_socket = open_socket();
	if (!dump_socket)
		return false;
	// A large table arrives faster than one read takes it; a few MiB keep the dump from overrunning.
	int fd = mnl_socket_get_fd(dump_socket);
	int size = DUMP_RCVBUF;
	if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	return true;
}

// After a failed dump the rest of its messages may still be queued: start afresh next time.
static void drop_dump_socket()
{
	if (dump_socket)
		mnl_socket_close(dump_socket);
	dump_socket = nullptr;
}

static bool open_change_socket()
{
	if (change_socket)
		return true;
	change_socket = open_socket();
	if (!change_socket)
		return false;
	int size = CHANGE_RCVBUF;
	int fd = mnl_socket_get_fd(change_socket);
	if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	return true;
}

// The kernel never reports an IPv4 length above 32; if it did, the shift must still be defined.
static uint32_t mask_of(unsigned length)
{
	return length == 0 ? 0 : htonl(~0u << (32 - std::min(length, 32u)));
}

static unsigned length_of(uint32_t mask)
{
	return static_cast<unsigned>(__builtin_popcount(mask));
}

// libmnl's attribute walk, without the C-only pointer conversions of its macro.
static const nlattr* first_attr(const nlmsghdr* nlh, size_t offset)
{
	return static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, offset));
}

static bool attr_ok(const nlmsghdr* nlh, const nlattr* attr)
{
	const char* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
	return mnl_attr_ok(attr, static_cast<int>(tail - reinterpret_cast<const char*>(attr)));
}

// A growing block of rows from std::malloc.
struct RowBlock {
	void* rows;
	uint32_t count;
	uint32_t capacity;
};

static void* block_slot(RowBlock* block, size_t row_size)
{
	if (block->count == block->capacity) {
		uint32_t capacity = block->capacity ? block->capacity * 2 : 256;
		void* grown = std::realloc(block->rows, capacity * row_size);
		if (!grown)
			return nullptr;
		block->rows = grown;
		block->capacity = capacity;
	}
	return static_cast<char*>(block->rows) + block->count++ * row_size;
}

static bool add_route(RowBlock* block, const nlmsghdr* nlh)
{
	const rtmsg* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
	if (rtm->rtm_family != AF_INET)
		return true;
	uint32_t table = rtm->rtm_table;
	uint32_t dest = 0, gateway = 0, oif = 0, priority = 0;
	bool multipath = false;
	const nlattr* attr;
	for (attr = first_attr(nlh, sizeof(*rtm)); attr_ok(nlh, attr); attr = mnl_attr_next(attr)) {
		switch (mnl_attr_get_type(attr)) {
		case RTA_TABLE:
			table = mnl_attr_get_u32(attr);
			break;
		case RTA_DST:
			dest = mnl_attr_get_u32(attr);
			break;
		case RTA_GATEWAY:
			gateway = mnl_attr_get_u32(attr);
			break;
		case RTA_OIF:
			oif = mnl_attr_get_u32(attr);
			break;
		case RTA_PRIORITY:
			priority = mnl_attr_get_u32(attr);
			break;
		case RTA_MULTIPATH:
			multipath = true;
			break;
		}
	}
	if (table != RT_TABLE_MAIN)
		return true;

	RouteRow* row = static_cast<RouteRow*>(block_slot(block, sizeof(RouteRow)));
	if (!row)
		return false;
	*row = RouteRow{};
	row->dest = dest;
	row->mask = mask_of(rtm->rtm_dst_len);
	row->policy = rtm->rtm_tos;
	row->next_hop = gateway;
	row->if_index = oif;
	if (rtm->rtm_type == RTN_UNICAST && !multipath)
		row->type = gateway ? ROUTE_TYPE_INDIRECT : ROUTE_TYPE_DIRECT;
	else
		row->type = ROUTE_TYPE_OTHER;
	if (rtm->rtm_protocol == RTPROT_LANXROUTE)
		row->proto = ROUTE_PROTO_NETMGMT;
	else if (rtm->rtm_protocol == RTPROT_KERNEL)
		row->proto = ROUTE_PROTO_LOCAL;
	else
		row->proto = ROUTE_PROTO_OTHER;
	row->metric1 = priority;
	row->fetched_if_index = oif;
	row->fetched_next_hop = gateway;
	return true;
}

static bool add_address(RowBlock* block, const nlmsghdr* nlh)
{
	const ifaddrmsg* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
	if (ifa->ifa_family != AF_INET)
		return true;
	uint32_t local = 0, address = 0;
	bool has_local = false;
	const nlattr* attr;
	for (attr = first_attr(nlh, sizeof(*ifa)); attr_ok(nlh, attr); attr = mnl_attr_next(attr)) {
		if (mnl_attr_get_type(attr) == IFA_LOCAL) {
			local = mnl_attr_get_u32(attr);
			has_local = true;
		} else if (mnl_attr_get_type(attr) == IFA_ADDRESS) {
			address = mnl_attr_get_u32(attr);
		}
	}
	AddressRow* row = static_cast<AddressRow*>(block_slot(block, sizeof(AddressRow)));
	if (!row)
		return false;
	row->addr = has_local ? local : address;
	row->index = ifa->ifa_index;
	row->mask = mask_of(ifa->ifa_prefixlen);
	return true;
}

// Runs one IPv4 dump of the given type and collects its rows into block.
static uint32_t dump(uint16_t type, RowBlock* block, FetchStep* failed)
{
	*block = RowBlock{};
	if (!open_dump_socket()) {
		*failed = FETCH_SIZE;
		return static_cast<uint32_t>(errno);
	}
	char request[MNL_SOCKET_BUFFER_SIZE];
	nlmsghdr* nlh = mnl_nlmsg_put_header(request);
	nlh->nlmsg_type = type;
	nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
	nlh->nlmsg_seq = next_sequence();
	if (type == RTM_GETROUTE) {
		rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
		rtm->rtm_family = AF_INET;
		rtm->rtm_table = RT_TABLE_MAIN;
	} else {
		ifaddrmsg* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
		ifa->ifa_family = AF_INET;
	}
	uint32_t seq = nlh->nlmsg_seq;
	uint32_t portid = mnl_socket_get_portid(dump_socket);
	if (mnl_socket_sendto(dump_socket, nlh, nlh->nlmsg_len) < 0) {
		uint32_t status = static_cast<uint32_t>(errno);
		drop_dump_socket();
		*failed = FETCH_SIZE;
		return status;
	}

	uint32_t status = 0;
	for (;;) {
		ssize_t n = mnl_socket_recvfrom(dump_socket, dump_buffer, sizeof dump_buffer);
		if (n < 0) {
			// ENOBUFS: the kernel dropped part of the dump.
			status = static_cast<uint32_t>(errno);
			*failed = FETCH_TABLE;
			break;
		}
		int left = static_cast<int>(n);
		const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(dump_buffer);
		bool done = false;
		for (; mnl_nlmsg_ok(msg, left); msg = mnl_nlmsg_next(msg, &left)) {
			if (!mnl_nlmsg_portid_ok(msg, portid) || !mnl_nlmsg_seq_ok(msg, seq))
				continue;
			if (msg->nlmsg_flags & NLM_F_DUMP_INTR) {
				// The table changed during the dump: the rows may be inconsistent.
				status = EINTR;
				*failed = FETCH_TABLE;
				done = true;
				break;
			}
			if (msg->nlmsg_type == NLMSG_DONE) {
				done = true;
				break;
			}
			if (msg->nlmsg_type == NLMSG_ERROR) {
				const nlmsgerr* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(msg));
				status = err->error < 0 ? static_cast<uint32_t>(-err->error) : EPROTO;
				*failed = FETCH_TABLE;
				done = true;
				break;
			}
			uint16_t wanted = type == RTM_GETROUTE ? RTM_NEWROUTE : RTM_NEWADDR;
			if (msg->nlmsg_type != wanted)
				continue;
			bool added = type == RTM_GETROUTE ? add_route(block, msg) : add_address(block, msg);
			if (!added) {
				status = ENOMEM;
				*failed = FETCH_MEMORY;
				done = true;
				break;
			}
		}
		if (done)
			break;
	}
	if (status != 0) {
		drop_dump_socket();
		std::free(block->rows);
		*block = RowBlock{};
		return status;
	}
	if (!block->rows) {
		// An empty table still gives a block, so that every success has one to release.
		block->rows = std::malloc(sizeof(RouteRow));
		if (!block->rows) {
			*failed = FETCH_MEMORY;
			return ENOMEM;
		}
	}
	return 0;
}

bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	RowBlock block;
	*status = dump(RTM_GETROUTE, &block, failed);
	*rows = static_cast<RouteRow*>(block.rows);
	*count = block.count;
	if (*status != 0)
		return false;
	// The reconciliation's search wants destination ascending, then mask descending as stored.
	// The kernel's trie walk mostly gives that order already: then the check is all it costs.
	auto before = [](const RouteRow& a, const RouteRow& b) {
		uint32_t da = ntohl(a.dest), db = ntohl(b.dest);
		if (da != db)
			return da < db;
		return a.mask > b.mask;
	};
	if (!std::is_sorted(*rows, *rows + *count, before))
		std::sort(*rows, *rows + *count, before);
	return true;
}

bool routing_fetch_addresses(AddressRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	RowBlock block;
	*status = dump(RTM_GETADDR, &block, failed);
	*rows = static_cast<AddressRow*>(block.rows);
	*count = block.count;
	return *status == 0;
}

void routing_free(void* rows)
{
	std::free(rows);
}

// A route message naming row's destination, length, tos and priority.
static nlmsghdr* route_message(char* buf, uint16_t type, uint16_t flags, const RouteRow* row)
{
	nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
	nlh->nlmsg_type = type;
	nlh->nlmsg_flags = NLM_F_REQUEST | flags;
	rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
	rtm->rtm_family = AF_INET;
	rtm->rtm_dst_len = static_cast<unsigned char>(length_of(row->mask));
	rtm->rtm_tos = static_cast<unsigned char>(row->policy);
	rtm->rtm_table = RT_TABLE_MAIN;
	mnl_attr_put_u32(nlh, RTA_DST, row->dest);
	mnl_attr_put_u32(nlh, RTA_PRIORITY, row->metric1);
	return nlh;
}

static void put_next_hop(nlmsghdr* nlh, const RouteRow* row)
{
	if (row->next_hop != 0)
		mnl_attr_put_u32(nlh, RTA_GATEWAY, row->next_hop);
	if (row->if_index != 0)
		mnl_attr_put_u32(nlh, RTA_OIF, row->if_index);
}

// The request of one change, built in buf.
static nlmsghdr* change_message(char* buf, RouteChange change, const RouteRow* row)
{
	if (change == ROUTE_DELETE) {
		nlmsghdr* nlh = route_message(buf, RTM_DELROUTE, 0, row);
		rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_get_payload(nlh));
		// Protocol 0 and scope "nowhere" match any; only our own rows are named by protocol.
		rtm->rtm_protocol = row->proto == ROUTE_PROTO_NETMGMT ? RTPROT_LANXROUTE : 0;
		rtm->rtm_scope = RT_SCOPE_NOWHERE;
		rtm->rtm_type = row->type == ROUTE_TYPE_OTHER ? RTN_UNSPEC : RTN_UNICAST;
		put_next_hop(nlh, row);
		return nlh;
	}
	uint16_t flags = change == ROUTE_CREATE ? NLM_F_CREATE | NLM_F_EXCL : NLM_F_REPLACE;
	nlmsghdr* nlh = route_message(buf, RTM_NEWROUTE, flags, row);
	rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_get_payload(nlh));
	rtm->rtm_protocol = RTPROT_LANXROUTE;
	rtm->rtm_scope = RT_SCOPE_UNIVERSE;
	rtm->rtm_type = RTN_UNICAST;
	put_next_hop(nlh, row);
	return nlh;
}

// Changes in flight. The kernel handles the requests of one send in order, within the send,
// and queues one acknowledgement each; an answer is matched to its change by sequence number.
struct InFlight {
	uint32_t seq;
	uint32_t status;
	bool sent;
	bool answered;
};

static InFlight in_flight[ROUTING_WINDOW];
static uint32_t flight_first, flight_count;
alignas(nlmsghdr) static char batch[ROUTING_WINDOW * CHANGE_SLOT];
static size_t batch_bytes;
alignas(nlmsghdr) static char answers[ROUTING_WINDOW][ANSWER_SIZE];

static InFlight* flight_at(uint32_t i)
{
	return &in_flight[(flight_first + i) % ROUTING_WINDOW];
}

// Changes that will get no answer take the status.
static void fail_unanswered(uint32_t status)
{
	for (uint32_t i = 0; i < flight_count; i++) {
		InFlight* f = flight_at(i);
		if (f->sent && !f->answered) {
			f->status = status;
			f->answered = true;
		}
	}
}

static void send_batch()
{
	if (batch_bytes == 0)
		return;
	ssize_t sent = mnl_socket_sendto(change_socket, batch, batch_bytes);
	uint32_t status = sent < 0 ? static_cast<uint32_t>(errno) : 0;
	batch_bytes = 0;
	for (uint32_t i = 0; i < flight_count; i++) {
		InFlight* f = flight_at(i);
		if (f->answered || f->sent)
			continue;
		f->sent = true;
		if (status != 0) {
			f->status = status;
			f->answered = true;
		}
	}
}

// Reads what answers have come, waiting for the first.
static void read_answers()
{
	mmsghdr headers[ROUTING_WINDOW];
	iovec pieces[ROUTING_WINDOW];
	for (uint32_t i = 0; i < ROUTING_WINDOW; i++) {
		pieces[i] = {answers[i], ANSWER_SIZE};
		headers[i] = mmsghdr{};
		headers[i].msg_hdr.msg_iov = &pieces[i];
		headers[i].msg_hdr.msg_iovlen = 1;
	}
	int fd = mnl_socket_get_fd(change_socket);
	int got = recvmmsg(fd, headers, ROUTING_WINDOW, MSG_WAITFORONE, nullptr);
	if (got < 0) {
		// ENOBUFS: answers were dropped, and the changes they belonged to will get none.
		fail_unanswered(static_cast<uint32_t>(errno));
		return;
	}
	uint32_t portid = mnl_socket_get_portid(change_socket);
	for (int k = 0; k < got; k++) {
		int left = static_cast<int>(headers[k].msg_len);
		const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(answers[k]);
		for (; mnl_nlmsg_ok(msg, left); msg = mnl_nlmsg_next(msg, &left)) {
			if (msg->nlmsg_type != NLMSG_ERROR || !mnl_nlmsg_portid_ok(msg, portid))
				continue;
			for (uint32_t i = 0; i < flight_count; i++) {
				InFlight* f = flight_at(i);
				if (f->sent && !f->answered && f->seq == msg->nlmsg_seq) {
					const nlmsgerr* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(msg));
					f->status = static_cast<uint32_t>(-err->error);
					f->answered = true;
					break;
				}
			}
		}
	}
}

static void routing_start(RouteChange change, const RouteRow* row)
{
	InFlight* f = &in_flight[(flight_first + flight_count) % ROUTING_WINDOW];
	*f = InFlight{};
	flight_count++;
	if (!open_change_socket()) {
		f->status = static_cast<uint32_t>(errno);
		f->answered = true;
		return;
	}
	nlmsghdr* nlh = change_message(batch + batch_bytes, change, row);
	nlh->nlmsg_seq = next_sequence();
	nlh->nlmsg_flags |= NLM_F_ACK;
	f->seq = nlh->nlmsg_seq;
	batch_bytes += NLMSG_ALIGN(nlh->nlmsg_len);
	if (flight_count == ROUTING_WINDOW)
		send_batch();
}

static uint32_t routing_finish()
{
	if (flight_count == 0)
		return EINVAL;
	InFlight* f = flight_at(0);
	if (!f->sent && !f->answered)
		send_batch();
	while (!f->answered)
		read_answers();
	flight_first = (flight_first + 1) % ROUTING_WINDOW;
	flight_count--;
	return f->status;
}

void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	uint32_t finished = 0;
	for (uint32_t i = 0; i < count; i++) {
		if (i - finished == ROUTING_WINDOW)
			statuses[finished++] = routing_finish();
		routing_start(changes[i], &rows[i]);
	}
	while (finished < count)
		statuses[finished++] = routing_finish();
}
