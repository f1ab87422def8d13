#pragma once
// Bringing the cycle's RouteSnapshot in line with the wanted blocks: the search, the marks, the
// sweep, and the route changes they ask for, applied in batches.
#include <cstdint>

#include "platform/routing.h"
#include "prefix/prefix_list.h"

// The changes applied since the counts were last set to 0, and how many of them were refused.
extern uint32_t route_changes_made;
extern uint32_t route_changes_failed;
// Our routes in the table: set from a fresh snapshot, followed through every change applied.
extern uint32_t routes_of_ours;

// Sets routes_of_ours from the cycle's snapshot.
void count_routes_of_ours();

// Makes block routed through if_index via next_hop: marks its row in the cycle's snapshot, or
// queues the route's creation.
void ensure_route(const PrefixNode* block, uint32_t if_index, uint32_t next_hop);

// Queues the write-back of every re-pointed row and the deletion of our stale routes on the two
// gateways' links, then applies every queued change.
void sweep_routes();

// Applies the queued changes and writes each one's line with its own status, in queue order.
// A line of another kind, when it is written, calls this first, so that it keeps its place after them.
void apply_route_changes();

// One route-operation line, when CW_SHOW_CHANGES is set: outcome is the status of the change,
// or for 'i' the interface index asked for.
void log_route_op(uint32_t outcome, char op, const RouteRow* row);
