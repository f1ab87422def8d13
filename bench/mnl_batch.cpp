// The floor under the route-writing cycle: a list's routes added with bare libmnl, 64 requests to
// a send, every one acknowledged, the acknowledgements of a send read before the next one. With
// "noack", 1024 requests to a send without acknowledgement, in the bit-reversed order of their
// places as the program sends them, closed by one acknowledged no-op: only the refused ones and the
// no-op are answered.
// The routes are those the cycle makes: protocol 76, metric 1, via GATEWAY on INTERFACE.
// mnl_batch LIST GATEWAY INTERFACE [noack]   prints "ADDED REFUSED"
#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

static constexpr unsigned MOST_PER_SEND = 1024;
// A route request is 60 bytes; a slot of 64 keeps the arithmetic plain.
static constexpr unsigned SLOT = 64;

struct Floor {
	mnl_socket* nl;
	uint32_t gateway;
	uint32_t oif;
	uint32_t seq;
	bool noack;
	long added;
	long refused;
};
static Floor fl;

static void put_route(char* buf, uint32_t dest, unsigned length)
{
	nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
	nlh->nlmsg_type = RTM_NEWROUTE;
	nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL | (fl.noack ? 0 : NLM_F_ACK);
	nlh->nlmsg_seq = ++fl.seq;
	rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
	rtm->rtm_family = AF_INET;
	rtm->rtm_dst_len = static_cast<unsigned char>(length);
	rtm->rtm_table = RT_TABLE_MAIN;
	rtm->rtm_protocol = 76;
	rtm->rtm_scope = RT_SCOPE_UNIVERSE;
	rtm->rtm_type = RTN_UNICAST;
	mnl_attr_put_u32(nlh, RTA_DST, dest);
	mnl_attr_put_u32(nlh, RTA_PRIORITY, 1);
	mnl_attr_put_u32(nlh, RTA_GATEWAY, fl.gateway);
	mnl_attr_put_u32(nlh, RTA_OIF, fl.oif);
}

// Sends the batch and reads one acknowledgement per request in it; without acknowledgements, the
// errors and the no-op's acknowledgement closing the batch, which counts the rest as added.
static bool send_and_acknowledge(char* batch, size_t bytes, unsigned requests)
{
	uint32_t barrier = 0;
	if (fl.noack) {
		nlmsghdr* nlh = mnl_nlmsg_put_header(batch + bytes);
		nlh->nlmsg_type = NLMSG_NOOP;
		nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
		nlh->nlmsg_seq = barrier = ++fl.seq;
		bytes += nlh->nlmsg_len;
	}
	if (mnl_socket_sendto(fl.nl, batch, bytes) < 0)
		return false;
	alignas(nlmsghdr) char reply[MNL_SOCKET_BUFFER_SIZE];
	while (requests > 0) {
		ssize_t n = mnl_socket_recvfrom(fl.nl, reply, sizeof reply);
		if (n < 0)
			return false;
		int left = static_cast<int>(n);
		for (const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(reply); mnl_nlmsg_ok(msg, left);
		     msg = mnl_nlmsg_next(msg, &left)) {
			if (msg->nlmsg_type != NLMSG_ERROR)
				continue;
			const nlmsgerr* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(msg));
			if (fl.noack && msg->nlmsg_seq == barrier) {
				fl.added += requests;
				requests = 0;
				continue;
			}
			(err->error == 0 ? fl.added : fl.refused)++;
			requests--;
		}
	}
	return true;
}

int main(int argc, char** argv)
{
	if (argc != 4 && argc != 5)
		return 2;
	fl.noack = argc == 5;
	unsigned per_send = fl.noack ? MOST_PER_SEND : 64;
	std::FILE* list = std::fopen(argv[1], "r");
	in_addr gateway;
	if (!list || inet_pton(AF_INET, argv[2], &gateway) != 1)
		return 2;
	fl.gateway = gateway.s_addr;
	fl.oif = if_nametoindex(argv[3]);
	fl.nl = mnl_socket_open(NETLINK_ROUTE);
	if (!fl.oif || !fl.nl || mnl_socket_bind(fl.nl, 0, MNL_SOCKET_AUTOPID) < 0)
		return 1;

	std::vector<std::pair<uint32_t, unsigned>> routes;
	char line[64];
	while (std::fgets(line, sizeof line, list)) {
		// `ip route show` leaves out the length of a host route.
		unsigned a, b, c, d, length = 32;
		if (std::sscanf(line, "%u.%u.%u.%u/%u", &a, &b, &c, &d, &length) < 4)
			return 2;
		routes.push_back({htonl(a << 24 | b << 16 | c << 8 | d), length});
	}
	// Without acknowledgements, as the program does: each send in the bit-reversed order of its places.
	alignas(nlmsghdr) static char batch[MOST_PER_SEND * SLOT + SLOT];
	for (size_t first = 0; first < routes.size(); first += per_send) {
		size_t n = std::min<size_t>(per_send, routes.size() - first), bytes = 0;
		unsigned bits = fl.noack ? std::bit_width(n - 1) : 0;
		for (size_t k = 0; k < (fl.noack ? size_t{1} << bits : n); k++) {
			size_t i = k;
			if (fl.noack) {
				i = 0;
				for (unsigned b = 0; b < bits; b++)
					i |= (k >> b & 1) << (bits - 1 - b);
			}
			if (i < n) {
				put_route(batch + bytes, routes[first + i].first, routes[first + i].second);
				bytes += reinterpret_cast<nlmsghdr*>(batch + bytes)->nlmsg_len;
			}
		}
		if (!send_and_acknowledge(batch, bytes, static_cast<unsigned>(n)))
			return 1;
	}
	std::printf("%ld %ld\n", fl.added, fl.refused);
	return 0;
}
