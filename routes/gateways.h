#pragma once
// The two gateways and the interfaces they are reached through.
#include <cstdint>

#include "routes/snapshots.h"

// 0 until resolved; resolved afresh each cycle, and kept when a cycle finds no interface.
extern uint32_t lanx_if;
extern uint32_t world_if;

// Resolves lanx_if and world_if from both snapshots. false after the failure lines.
bool resolve_gateways(const AddressSnapshot* addresses, const RouteSnapshot* routes);

// The failure line of a gateway that has no interface: name is LANX or WORLD, text the gateway as given.
void log_bad_gateway(const char* name, const char* text);
