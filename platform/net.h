#pragma once
// Sockets start-up and dotted-address conversion.
#include <cstdint>

// The process-wide start-up: the sockets library where the platform has one, how the heap hands
// out large blocks on Linux. The result is of no interest.
void net_startup();

// Converts a dotted address as inet_addr does: network order, 0xFFFFFFFF for text that is not one.
uint32_t net_inet_addr(const char* text);
