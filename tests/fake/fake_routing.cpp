#include "tests/fake/fake_routing.h"

#include <cstdlib>
#include <cstring>

FakeRouting fake_routing;

void fake_routing_reset()
{
	fake_routing = FakeRouting{};
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

void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	static constexpr char kinds[] = {'c', 'r', 'd'};
	fake_routing.batches.push_back(count);
	for (uint32_t i = 0; i < count; i++) {
		uint32_t status = changes[i] == ROUTE_CREATE ? fake_routing.create_status
		    : changes[i] == ROUTE_REWRITE ? fake_routing.rewrite_status : fake_routing.delete_status;
		statuses[i] = record(kinds[changes[i]], &rows[i], status);
	}
}
