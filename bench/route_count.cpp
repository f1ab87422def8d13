// Counts the main table's IPv4 routes of one protocol with a single dump, and how many prefixes
// of a list are missing from them, so that a benchmark can poll a large table cheaply.
// route_count PROTOCOL [LIST]   prints "COUNT MISSING"
#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

static std::vector<uint64_t> seen; // dest << 8 | length
static unsigned wanted_protocol;

static int on_route(const nlmsghdr* nlh, void*)
{
	const rtmsg* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
	if (rtm->rtm_family != AF_INET || rtm->rtm_protocol != wanted_protocol || rtm->rtm_table != RT_TABLE_MAIN)
		return MNL_CB_OK;
	uint32_t dest = 0;
	for (const nlattr* a = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof *rtm));
	     mnl_attr_ok(a, static_cast<int>(static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh)) -
					     reinterpret_cast<const char*>(a)));
	     a = mnl_attr_next(a))
		if (mnl_attr_get_type(a) == RTA_DST)
			dest = ntohl(mnl_attr_get_u32(a));
	seen.push_back(uint64_t{dest} << 8 | rtm->rtm_dst_len);
	return MNL_CB_OK;
}

int main(int argc, char** argv)
{
	if (argc < 2)
		return 2;
	wanted_protocol = static_cast<unsigned>(std::atoi(argv[1]));
	mnl_socket* nl = mnl_socket_open(NETLINK_ROUTE);
	if (!nl || mnl_socket_bind(nl, 0, MNL_SOCKET_AUTOPID) < 0)
		return 1;
	int size = 16 << 20;
	setsockopt(mnl_socket_get_fd(nl), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
	alignas(nlmsghdr) static char buf[1 << 16];
	nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
	nlh->nlmsg_type = RTM_GETROUTE;
	nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
	nlh->nlmsg_seq = 1;
	rtmsg* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
	rtm->rtm_family = AF_INET;
	if (mnl_socket_sendto(nl, nlh, nlh->nlmsg_len) < 0)
		return 1;
	unsigned portid = mnl_socket_get_portid(nl);
	int ret;
	do {
		ssize_t n = mnl_socket_recvfrom(nl, buf, sizeof buf);
		if (n < 0)
			return 1;
		ret = mnl_cb_run(buf, static_cast<size_t>(n), 1, portid, on_route, nullptr);
	} while (ret > 0);
	if (ret < 0)
		return 1;
	long missing = 0;
	if (argc > 2) {
		std::sort(seen.begin(), seen.end());
		std::FILE* list = std::fopen(argv[2], "r");
		if (!list)
			return 1;
		unsigned a, b, c, d, len;
		while (std::fscanf(list, "%u.%u.%u.%u/%u", &a, &b, &c, &d, &len) == 5) {
			uint64_t key = uint64_t{a << 24 | b << 16 | c << 8 | d} << 8 | len;
			missing += !std::binary_search(seen.begin(), seen.end(), key);
		}
		std::fclose(list);
	}
	std::printf("%zu %ld\n", seen.size(), missing);
	return 0;
}
