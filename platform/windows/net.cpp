#include "platform/net.h"

#include <winsock2.h>

void net_startup()
{
	// Only address conversion is used; a failed start-up changes nothing.
	WSADATA data;
	(void)WSAStartup(0x0200, &data);
}

uint32_t net_inet_addr(const char* text)
{
	return static_cast<uint32_t>(inet_addr(text));
}
