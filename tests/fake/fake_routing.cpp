#include "tests/fake/fake_routing.h"

#include <algorithm>

FakeRouting fake_routing;

// A fresh block holding table, or the scripted failure; the status is left as the caller set it.
template <typename Row>
static bool serve(const std::vector<Row>& table, char which, Row** rows, uint32_t* n, FetchStep* step)
{
	*step = fake_routing.fail_step;
	if (fake_routing.failing == which)
		return false;
	*rows = static_cast<Row*>(::operator new((table.size() + 1) * sizeof(Row)));
	*n = static_cast<uint32_t>(std::copy(table.begin(), table.end(), *rows) - *rows);
	return ++fake_routing.blocks_outstanding > 0;
}

bool routing_fetch_routes(RouteRow** r, uint32_t* n, uint32_t*, FetchStep* s)
{
	return serve(fake_routing.routes, 'r', r, n, s);
}
bool routing_fetch_addresses(AddressRow** r, uint32_t* n, uint32_t*, FetchStep* s)
{
	return serve(fake_routing.addresses, 'a', r, n, s);
}

void routing_free(void* rows)
{
	fake_routing.blocks_outstanding -= rows != nullptr;
	::operator delete(rows);
}

void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	for (uint32_t i = 0; i < count; i++) {
		const size_t n = fake_routing.rows.size();
		statuses[i] = n < fake_routing.statuses.size() ? fake_routing.statuses[n] : 0;
		fake_routing.ops += "crd"[changes[i]];
		fake_routing.rows.push_back(rows[i]);
	}
	fake_routing.ops += '|';
}
