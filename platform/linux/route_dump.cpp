// The forwarding table and the interface addresses through rtnetlink dumps: IPv4, main table only.
// The forwarding table is kept between cycles from notifications and dumped afresh only at the
// start, after a doubt, or once it is a minute old.
#include "platform/routing.h"

#include <errno.h>
#include <linux/rtnetlink.h>

#include <cstdlib>
#include <ctime>

#include "platform/linux/dump_scan.h"
#include "platform/linux/netlink.h"
#include "platform/linux/route_kept.h"
#include "platform/linux/route_message.h"
#include "platform/linux/route_watch.h"

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
	RouteRow row;
	if (!route_row_of_message(nlh, &row))
		return true;
	RouteRow* slot = static_cast<RouteRow*>(block_slot(block, sizeof(RouteRow)));
	if (!slot)
		return false;
	*slot = row;
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

// A kept table is dumped afresh after this many seconds.
static constexpr time_t KEPT_AGE = 60;

static bool dump_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
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

bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	static time_t dumped;
	time_t now = time(nullptr);
	// Without a watch socket every cycle dumps.
	bool watching = watch_open();
	if (watching)
		watch_drain();
	if (watching && !netlink.doubt && kept_valid() && now - dumped < KEPT_AGE && now >= dumped &&
	    kept_take(rows, count)) {
		*status = 0;
		return true;
	}
	// What the watch socket queues from here on comes after the dump's start: it is applied to the
	// dump at the next fetch, where a change already in the dump is a change to the same result.
	kept_forget();
	netlink.doubt = false;
	watching = watching && watch_join_routes();
	if (!dump_routes(rows, count, status, failed))
		return false;
	dumped = now;
	if (!watching)
		return true;
	kept_reset(*rows, *count);
	if (kept_take(rows, count))
		return true;
	*failed = FETCH_MEMORY;
	*status = ENOMEM;
	return false;
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
	// The kept table stays for the next cycle.
	if (!kept_owns(rows))
		std::free(rows);
}
