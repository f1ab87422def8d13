#include "platform/net.h"

#include <arpa/inet.h>

void net_startup() {}

uint32_t net_inet_addr(const char* text)
{
	return inet_addr(text);
}
