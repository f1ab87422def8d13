#include "routes/snapshots.h"

#include <algorithm>

#include "common/log.h"
#include "platform/byte_order.h"

RouteSnapshot route_snapshot;

static bool search_order(const RouteRow& a, const RouteRow& b)
{
	uint32_t dest_a = net_to_host(a.dest), dest_b = net_to_host(b.dest);
	if (dest_a != dest_b)
		return dest_a < dest_b;
	return a.mask > b.mask;
}

// The search wants destination ascending (host order), then mask descending as stored. Most
// platforms already deliver that order; then the check is all it costs.
static void sort_for_search(RouteSnapshot* snapshot)
{
	RouteRow* end = snapshot->rows + snapshot->count;
	if (!std::is_sorted(snapshot->rows, end, search_order))
		std::sort(snapshot->rows, end, search_order);
}

bool fetch_route_snapshot(RouteSnapshot* snapshot)
{
	FetchStep failed = FETCH_TABLE;
	uint32_t status = 0;
	if (routing_fetch_routes(&snapshot->rows, &snapshot->count, &status, &failed)) {
		sort_for_search(snapshot);
		return true;
	}
	snapshot->rows = nullptr;
	snapshot->count = 0;
	// A block that could not be allocated gives none without a line.
	if (failed == FETCH_SIZE)
		log_write("GetIpForwardTable(0): %d\n", static_cast<int>(status));
	else if (failed == FETCH_TABLE)
		log_write("GetIpForwardTable(^): %d\n", static_cast<int>(status));
	return false;
}

bool fetch_address_snapshot(AddressSnapshot* snapshot)
{
	FetchStep failed = FETCH_TABLE;
	uint32_t status = 0;
	if (routing_fetch_addresses(&snapshot->rows, &snapshot->count, &status, &failed))
		return true;
	snapshot->rows = nullptr;
	snapshot->count = 0;
	if (failed == FETCH_SIZE)
		log_write("GetIpAddrTable(0): %d\n", static_cast<int>(status));
	else if (failed == FETCH_TABLE)
		log_write("GetIpAddrTable(^): %d\n", static_cast<int>(status));
	return false;
}

void release_route_snapshot(RouteSnapshot* snapshot)
{
	routing_free(snapshot->rows);
	snapshot->rows = nullptr;
	snapshot->count = 0;
}

void release_address_snapshot(AddressSnapshot* snapshot)
{
	routing_free(snapshot->rows);
	snapshot->rows = nullptr;
	snapshot->count = 0;
}
