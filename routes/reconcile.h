#pragma once
// One update cycle: the forwarding table brought into line with the PrefixList.
#include <cstdint>

#include "platform/routing.h"
#include "prefix/prefix_list.h"

// 0 when the cycle ran to its end, 1 when it stopped early.
int update_routes();

// Makes block routed through if_index via next_hop: marks its row in the cycle's snapshot,
// or creates the route.
void ensure_route(const PrefixNode* block, uint32_t if_index, uint32_t next_hop);

// One route-operation line, when CW_SHOW_CHANGES is set.
void log_route_op(uint32_t value, char op, const RouteRow* row);
