#include "platform/net.h"

#include <arpa/inet.h>

void net_startup() {}

// The tests run on Linux: the real conversion is the one to check against.
uint32_t net_inet_addr(const char* text)
{
	return inet_addr(text);
}
