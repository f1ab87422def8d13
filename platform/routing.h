#pragma once
// The host's IPv4 forwarding table and interface-address table.
#include <cstdint>

// One forwarding row, as small as the cycle needs: a sparse list's table is a quarter of a million
// of them. Addresses and masks in network byte order.
struct RouteRow {
	uint32_t dest = 0;
	uint32_t mask = 0;
	uint32_t next_hop = 0;
	uint32_t if_index = 0;
	uint32_t metric1 = 0;
	// The row as fetched, for platforms that must name the old route to rewrite it.
	uint32_t fetched_if_index = 0;
	uint32_t fetched_next_hop = 0;
	uint8_t policy = 0; // the tos
	uint8_t type = 0;   // 1 other, 3 direct, 4 indirect
	uint8_t proto = 0;  // 1 other, 2 local, 3 network management (ours)
	uint8_t age = 0;    // the reconciliation mark during a cycle, 0 as fetched
};
// No padding: rows are compared as bytes.
static_assert(sizeof(RouteRow) == 32);

// One interface address. Network byte order.
struct AddressRow {
	uint32_t addr;
	uint32_t index;
	uint32_t mask;
};

inline constexpr uint8_t ROUTE_TYPE_OTHER = 1;
inline constexpr uint8_t ROUTE_TYPE_DIRECT = 3;
inline constexpr uint8_t ROUTE_TYPE_INDIRECT = 4;
inline constexpr uint8_t ROUTE_PROTO_OTHER = 1;
inline constexpr uint8_t ROUTE_PROTO_LOCAL = 2;
inline constexpr uint8_t ROUTE_PROTO_NETMGMT = 3;

// Which step of a table fetch failed: the size query ("(0)"), the fetch proper ("(^)"),
// or the allocation of the block (no line of its own).
enum FetchStep { FETCH_SIZE, FETCH_TABLE, FETCH_MEMORY };

// Fetch a table into a block of the platform's, given back with routing_free. Rows come in the
// platform's own order; the caller sorts what it needs sorted.
// false on failure, with the platform's status (which may be 0) and the step that failed.
bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed);
bool routing_fetch_addresses(AddressRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed);
// Gives back a block of either fetch; null is allowed.
void routing_free(void* rows);

// Route changes. A rewrite names the row as fetched (fetched_if_index, fetched_next_hop) and
// carries its new interface and next hop; a delete names the row as fetched.
enum RouteChange { ROUTE_CREATE, ROUTE_REWRITE, ROUTE_DELETE };

// The most changes the core hands routing_apply at once; a platform that batches sizes for it.
inline constexpr uint32_t ROUTING_BATCH = 1024;

// Applies count changes, each to its row, in the order given: statuses[i] receives 0 or the
// platform's status of change i. A failing change does not stop the ones after it.
void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses);
