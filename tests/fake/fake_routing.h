#pragma once
// The in-memory routing table: serves the rows a test gives, records every change asked of it.
#include <string>
#include <vector>

#include "platform/routing.h"

struct FakeRouting {
	std::vector<RouteRow> routes{}; // served in this order
	std::vector<AddressRow> addresses{};
	// 'r': the route fetch fails at fail_step, 'a': the address fetch; the status untouched.
	char failing = 0;
	FetchStep fail_step = FETCH_SIZE;
	std::vector<uint32_t> statuses{}; // the nth change answers statuses[n], 0 beyond
	std::string ops{};                // 'c' create, 'r' rewrite, 'd' delete; '|' ends a batch
	std::vector<RouteRow> rows{};     // each change's row as received
	int blocks_outstanding = 0;       // fetched and not yet given back
};

// Reset with fake_routing = {}.
extern FakeRouting fake_routing;
