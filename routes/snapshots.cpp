#include "routes/snapshots.h"

#include "control/log.h"

RouteSnapshot route_snapshot;

bool fetch_route_snapshot(RouteSnapshot* snapshot)
{
	FetchStep failed = FETCH_TABLE;
	uint32_t status = 0;
	if (routing_fetch_routes(&snapshot->rows, &snapshot->count, &status, &failed))
		return true;
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
