#pragma once
// The process-wide settings: fixed by the command line, gateways converted by the background copy.
#include <cstdint>

// References into the argument vector; null until given.
extern const char* lanx_gateway_text;
extern const char* world_gateway_text;
extern const char* ras_entry_name;
extern bool no_fork;

// Where the list is downloaded from; the '@' option replaces both. The server is a host name, or
// "https://" and a host name for a list fetched over TLS.
extern const char* list_server;
extern const char* list_path;

// The two gateways in network order; 0 until the background copy converts the texts.
extern uint32_t lanx_gateway;
extern uint32_t world_gateway;

// Sets lanx_gateway and world_gateway from their texts when both texts are given.
void convert_gateways();
