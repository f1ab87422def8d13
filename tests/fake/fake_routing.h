#pragma once
// The in-memory routing table: serves the rows a test gives, records every change asked of it.
#include <cstdint>
#include <vector>

#include "platform/routing.h"

struct FakeRouteCall {
	char op;		// 'c' create, 'r' rewrite, 'd' delete
	RouteRow row;		// the row as the platform received it
};

struct FakeRouting {
	// Served as given, in this order: a test that wants the sorted order gives it sorted.
	std::vector<RouteRow> routes;
	std::vector<AddressRow> addresses;
	// A fetch fails when its flag is set, with the status and step beside it.
	bool routes_fail;
	uint32_t routes_status;
	FetchStep routes_step;
	bool addresses_fail;
	uint32_t addresses_status;
	FetchStep addresses_step;
	// Answers of the three changes.
	uint32_t create_status;
	uint32_t rewrite_status;
	uint32_t delete_status;
	// When not empty, the nth change of any kind answers statuses[n] instead.
	std::vector<uint32_t> statuses;
	std::vector<FakeRouteCall> calls;
	// The size of each batch of changes, in order.
	std::vector<uint32_t> batches;
	// Blocks handed out by the fetches and not yet given back through routing_free.
	int blocks_outstanding;
};

extern FakeRouting fake_routing;

// Empty tables, every call succeeding, no calls recorded, no block outstanding.
void fake_routing_reset();
