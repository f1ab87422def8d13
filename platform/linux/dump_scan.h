#pragma once
// One rtnetlink dump, read as a run of messages: start it, then take its row messages one by one
// until there is none; then ask how it ended.
#include <libmnl/libmnl.h>

#include <cstdint>

#include "platform/routing.h"

// Each asks for an IPv4 dump: the main table's routes, or the interface addresses. false if it
// could not.
bool start_route_dump();
bool start_address_dump();
// The dump's next row message (RTM_NEWROUTE or RTM_NEWADDR), read as needed; null at its end or
// when it failed.
const nlmsghdr* next_dump_message();
// Ends the dump: whole with status 0, or failed with the status and the step that failed.
void end_dump(uint32_t status, FetchStep failed);
// 0 after a whole dump; else its status, with the step that failed.
uint32_t dump_status(FetchStep* failed);
