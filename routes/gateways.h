#pragma once
// The two gateways and the interfaces they are reached through.
#include <cstdint>

#include "routes/snapshots.h"

// Network order; set by the background copy at start.
extern uint32_t lanx_gateway;
extern uint32_t world_gateway;
// 0 until resolved; kept from cycle to cycle.
extern uint32_t lanx_if;
extern uint32_t world_if;

// Writes a network-order address to the log as "%u.%u.%u.%u".
void print_dotted(uint32_t address);

// Resolves lanx_if and world_if; releases the address snapshot. false after the failure lines.
bool resolve_gateways(AddressSnapshot* addresses, const RouteSnapshot* routes);
