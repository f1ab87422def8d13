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

// A fetch's failure line, named after the call; a block that could not be allocated gives none.
static void log_fetch_failure(const char* call, FetchStep step, uint32_t status)
{
	if (step == FETCH_SIZE)
		log_write("%s(0): %d\n", call, static_cast<int>(status));
	else if (step == FETCH_TABLE)
		log_write("%s(^): %d\n", call, static_cast<int>(status));
}

// Gives back either snapshot's block and leaves the snapshot empty.
template <typename Snapshot>
static void release_rows(Snapshot* snapshot)
{
	routing_free(snapshot->rows);
	snapshot->rows = nullptr;
	snapshot->count = 0;
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
	log_fetch_failure("GetIpForwardTable", failed, status);
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
	log_fetch_failure("GetIpAddrTable", failed, status);
	return false;
}

void release_route_snapshot(RouteSnapshot* snapshot)
{
	release_rows(snapshot);
}

void release_address_snapshot(AddressSnapshot* snapshot)
{
	release_rows(snapshot);
}
