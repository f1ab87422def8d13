// Route messages into rows.
#include "platform/linux/route_message.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>

#include "platform/linux/netlink.h"

// The row of a route as the dump shows it.
static RouteRow row_of(uint32_t dest, unsigned length, uint8_t tos, bool unicast, uint32_t protocol, uint32_t gateway,
		       uint32_t oif, uint32_t priority)
{
	RouteRow row{};
	row.dest = dest;
	row.mask = netlink_mask_of(length);
	row.policy = tos;
	row.next_hop = gateway;
	row.if_index = oif;
	if (unicast)
		row.type = gateway ? ROUTE_TYPE_INDIRECT : ROUTE_TYPE_DIRECT;
	else
		row.type = ROUTE_TYPE_OTHER;
	if (protocol == RTPROT_LANXROUTE)
		row.proto = ROUTE_PROTO_NETMGMT;
	else if (protocol == RTPROT_KERNEL)
		row.proto = ROUTE_PROTO_LOCAL;
	else
		row.proto = ROUTE_PROTO_OTHER;
	row.metric1 = priority;
	row.fetched_if_index = oif;
	row.fetched_next_hop = gateway;
	return row;
}

bool route_row_of_message(const nlmsghdr* nlh, RouteRow* row)
{
	const rtmsg* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
	if (mnl_nlmsg_get_payload_len(nlh) < sizeof(*rtm) || rtm->rtm_family != AF_INET)
		return false;
	uint32_t table = rtm->rtm_table;
	uint32_t dest = 0, gateway = 0, oif = 0, priority = 0;
	bool multipath = false;
	for (const nlattr* attr = netlink_first_attr(nlh, sizeof(*rtm)); netlink_attr_ok(nlh, attr);
	     attr = mnl_attr_next(attr)) {
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
		return false;
	*row = row_of(dest, rtm->rtm_dst_len, rtm->rtm_tos, rtm->rtm_type == RTN_UNICAST && !multipath,
		      rtm->rtm_protocol, gateway, oif, priority);
	return true;
}

RouteRow route_row_of_request(const RouteRow* row)
{
	return row_of(row->dest, netlink_length_of(row->mask), row->policy, true, RTPROT_LANXROUTE, row->next_hop,
		      row->if_index, row->metric1);
}

bool route_same_key(const RouteRow& a, const RouteRow& b)
{
	return a.dest == b.dest && a.mask == b.mask && a.policy == b.policy && a.metric1 == b.metric1;
}

bool route_key_less(const RouteRow& a, const RouteRow& b)
{
	uint32_t dest_a = ntohl(a.dest), dest_b = ntohl(b.dest);
	if (dest_a != dest_b)
		return dest_a < dest_b;
	if (a.mask != b.mask)
		return a.mask > b.mask;
	if (a.policy != b.policy)
		return a.policy < b.policy;
	return a.metric1 < b.metric1;
}
