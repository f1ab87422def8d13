#include "common/settings.h"

#include "platform/net.h"

const char* lanx_gateway_text;
const char* world_gateway_text;
const char* ras_entry_name;
bool no_fork;

// A reserved name that never resolves: the real server comes with the '@' option.
const char* list_server = "list.lanx.example";
const char* list_path = "/zo-list.txt";

uint32_t lanx_gateway;
uint32_t world_gateway;

void convert_gateways()
{
	if (lanx_gateway_text != nullptr && world_gateway_text != nullptr) {
		lanx_gateway = net_inet_addr(lanx_gateway_text);
		world_gateway = net_inet_addr(world_gateway_text);
	}
}
