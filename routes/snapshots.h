#pragma once
// Per-cycle copies of the forwarding table and the interface-address table.
#include <cstdint>

#include "platform/routing.h"

inline constexpr uint32_t MARK_KEEP = 0xFFFFFFDD;
inline constexpr uint32_t MARK_UPDATE = 0xFFFFFFEE;

struct RouteSnapshot {
	uint32_t count;
	RouteRow* rows;
};

struct AddressSnapshot {
	uint32_t count;
	AddressRow* rows;
};

// The cycle's RouteSnapshot, searched and marked by ensure_route.
extern RouteSnapshot route_snapshot;

// Fetch into *snapshot, routes in the order the search needs; false after the failure line.
bool fetch_route_snapshot(RouteSnapshot* snapshot);
bool fetch_address_snapshot(AddressSnapshot* snapshot);
void release_route_snapshot(RouteSnapshot* snapshot);
void release_address_snapshot(AddressSnapshot* snapshot);
