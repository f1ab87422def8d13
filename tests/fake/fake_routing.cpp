#include "tests/fake/fake_routing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

FakeRouting fake_routing;
// Changes are made at once; their statuses wait in order for routing_finish.
static uint32_t finished_status[ROUTING_WINDOW];
static uint32_t status_first, status_count;

void fake_routing_reset()
{
	fake_routing = FakeRouting{};
	status_first = status_count = 0;
}

// Copies rows into a fresh block, as a platform fetch hands one out.
template <typename Row>
static bool serve(const std::vector<Row>& table, bool fail, uint32_t status, FetchStep step,
    Row** rows, uint32_t* count, uint32_t* status_out, FetchStep* failed)
{
	*rows = nullptr;
	*count = 0;
	if (fail) {
		*status_out = status;
		*failed = step;
		return false;
	}
	// One spare row so that an empty table still gives a block to release.
	Row* block = static_cast<Row*>(std::malloc((table.size() + 1) * sizeof(Row)));
	if (!block) {
		*status_out = 0;
		*failed = FETCH_MEMORY;
		return false;
	}
	if (!table.empty())
		std::memcpy(block, table.data(), table.size() * sizeof(Row));
	fake_routing.blocks_outstanding++;
	*rows = block;
	*count = static_cast<uint32_t>(table.size());
	return true;
}

bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	return serve(fake_routing.routes, fake_routing.routes_fail, fake_routing.routes_status,
	    fake_routing.routes_step, rows, count, status, failed);
}

bool routing_fetch_addresses(AddressRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	return serve(fake_routing.addresses, fake_routing.addresses_fail,
	    fake_routing.addresses_status, fake_routing.addresses_step, rows, count, status, failed);
}

void routing_free(void* rows)
{
	if (rows)
		fake_routing.blocks_outstanding--;
	std::free(rows);
}

static uint32_t record(char op, const RouteRow* row, uint32_t status)
{
	size_t n = fake_routing.calls.size();
	fake_routing.calls.push_back({op, *row});
	return n < fake_routing.statuses.size() ? fake_routing.statuses[n] : status;
}

uint32_t routing_create(const RouteRow* row)
{
	return record('c', row, fake_routing.create_status);
}

uint32_t routing_rewrite(const RouteRow* row)
{
	return record('r', row, fake_routing.rewrite_status);
}

uint32_t routing_delete(const RouteRow* row)
{
	return record('d', row, fake_routing.delete_status);
}

void routing_start(RouteChange change, const RouteRow* row)
{
	uint32_t status = change == ROUTE_CREATE ? routing_create(row)
	    : change == ROUTE_REWRITE ? routing_rewrite(row) : routing_delete(row);
	fake_routing.most_unfinished = std::max(fake_routing.most_unfinished, status_count + 1);
	finished_status[(status_first + status_count++) % ROUTING_WINDOW] = status;
}

uint32_t routing_finish()
{
	uint32_t status = finished_status[status_first];
	status_first = (status_first + 1) % ROUTING_WINDOW;
	status_count--;
	return status;
}
