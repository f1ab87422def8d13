#include "platform/net.h"

#include <arpa/inet.h>
#include <malloc.h>

// Blocks from 128 KiB up (the table, the list text) get mappings of their own, given back whole
// when freed and grown without a copy. glibc would otherwise raise that bound to each such block
// freed, and the next table would grow by copies inside the heap, whose old blocks stay resident.
void net_startup()
{
	mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

uint32_t net_inet_addr(const char* text)
{
	return inet_addr(text);
}
