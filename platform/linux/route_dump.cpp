// The forwarding table and the interface addresses through rtnetlink dumps: IPv4, main table only.
#include "platform/routing.h"

#include <errno.h>
#include <linux/rtnetlink.h>

#include <cstdlib>

#include "platform/linux/dump_scan.h"
#include "platform/linux/netlink.h"

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

// A main-table IPv4 route as a row; false only when the block cannot grow.
static bool add_route(RowBlock* block, const nlmsghdr* nlh)
{
	const rtmsg* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
	if (rtm->rtm_family != AF_INET)
		return true;
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
		return true;

	RouteRow* row = static_cast<RouteRow*>(block_slot(block, sizeof(RouteRow)));
	if (!row)
		return false;
	*row = RouteRow{};
	row->dest = dest;
	row->mask = netlink_mask_of(rtm->rtm_dst_len);
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

// An IPv4 interface address as a row; false only when the block cannot grow.
static bool add_address(RowBlock* block, const nlmsghdr* nlh)
{
	const ifaddrmsg* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
	if (ifa->ifa_family != AF_INET)
		return true;
	uint32_t local = 0, address = 0;
	bool has_local = false;
	for (const nlattr* attr = netlink_first_attr(nlh, sizeof(*ifa)); netlink_attr_ok(nlh, attr);
	     attr = mnl_attr_next(attr)) {
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
	row->mask = netlink_mask_of(ifa->ifa_prefixlen);
	return true;
}

// The rows of a dump that ended: 0, or its status with *failed set and no block.
static uint32_t dump_rows(RowBlock* block, FetchStep* failed)
{
	uint32_t status = dump_status(failed);
	if (status != 0) {
		std::free(block->rows);
		*block = RowBlock{};
		return status;
	}
	// An empty table still gives a block, so that every success has one to give back.
	if (!block->rows && !(block->rows = std::malloc(sizeof(RouteRow)))) {
		*failed = FETCH_MEMORY;
		return ENOMEM;
	}
	return 0;
}

bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	RowBlock block{};
	if (start_route_dump()) {
		const nlmsghdr* msg;
		while ((msg = next_dump_message()))
			if (!add_route(&block, msg))
				end_dump(ENOMEM, FETCH_MEMORY);
	}
	*status = dump_rows(&block, failed);
	*rows = static_cast<RouteRow*>(block.rows);
	*count = block.count;
	return *status == 0;
}

bool routing_fetch_addresses(AddressRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	RowBlock block{};
	if (start_address_dump()) {
		const nlmsghdr* msg;
		while ((msg = next_dump_message()))
			if (!add_address(&block, msg))
				end_dump(ENOMEM, FETCH_MEMORY);
	}
	*status = dump_rows(&block, failed);
	*rows = static_cast<AddressRow*>(block.rows);
	*count = block.count;
	return *status == 0;
}

void routing_free(void* rows)
{
	std::free(rows);
}
