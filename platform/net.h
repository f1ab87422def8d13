#pragma once
// Sockets start-up and dotted-address conversion.
#include <cstdint>

// Starts the sockets library where the platform has one; the result is of no interest.
void net_startup();

// Converts a dotted address as inet_addr does: network order, 0xFFFFFFFF for text that is not one.
uint32_t net_inet_addr(const char* text);
