#pragma once
// Per-cycle copies of the forwarding table and the interface-address table.
#include <cstdint>

#include "platform/routing.h"

// The marks the search leaves in a row's age for the sweep; a fetched row has none (0).
inline constexpr uint8_t MARK_KEEP = 1;
inline constexpr uint8_t MARK_UPDATE = 2;

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
