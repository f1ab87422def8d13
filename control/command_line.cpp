#include "control/command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/control_word.h"
#include "common/settings.h"
#include "platform/net.h"

void print_usage(std::FILE* stream)
{
	std::fputs(VERSION_LINE, stream);
	std::fputs("Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> "
		   "[<ras connection name>]\n\n"
		   "  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n"
		   "  or   lanxroute  --exit asks the running copy of lanxroute to exit.\n"
		   "  or   lanxroute  --status shows what the running copy of lanxroute is doing.\n",
		   stream);
}

QueryOption find_query_option(int argc, char** argv)
{
	for (int i = 1; i < argc; i++) {
		if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
			return QUERY_HELP;
		if (std::strcmp(argv[i], "--version") == 0)
			return QUERY_VERSION;
		if (std::strcmp(argv[i], "--status") == 0)
			return QUERY_STATUS;
	}
	return QUERY_NONE;
}

// An option after the first '-'; 0 when accepted, else the exit status.
static int parse_option(const char* text)
{
	if (std::strcmp(text, "-no-fork") == 0) {
		no_fork = true;
	} else if (std::strcmp(text, "-exit") == 0) {
		control_word_write(CW_EXIT);
		no_fork = true;
	} else if (std::strcmp(text, "-verbose") == 0) {
		control_word_write(CW_DUMP_LIST | CW_DUMP_ROUTES | CW_SHOW_LISTED | CW_SHOW_CHANGES |
				   CW_SHOW_INTERFACES);
	} else if (std::strcmp(text, "-changes") == 0) {
		control_word_write(CW_SHOW_CHANGES);
	} else {
		unsigned value = 0;
		int converted = std::sscanf(text, "%x", &value);
		if (converted == 0) {
			std::fprintf(stderr, "Invalid numeric flag %s.\n", text);
			return 1;
		}
		// Empty or blank text reports end of input: accepted, the word stays.
		if (converted == 1)
			control_word_write(value);
	}
	return 0;
}

// The server name the last list url gave; a later one releases it.
static char* parsed_server;

// The list URL after its '@'; 0 when accepted, else the exit status.
static int parse_list_url(const char* text)
{
	const char* host = text;
	const char* server = text;
	if (std::strncmp(text, "http://", 7) == 0) {
		host = text + 7;
		server = host;
	} else if (std::strncmp(text, "https://", 8) == 0) {
		// "https://" stays before the host in the server name: the download takes it for TLS.
		host = text + 8;
	}
	const char* slash = std::strchr(host, '/');
	if (!slash) {
		std::fprintf(stderr, "Invalid list url %s.\n", text);
		return 1;
	}
	size_t length = static_cast<size_t>(slash - server);
	char* copy = static_cast<char*>(std::malloc(length + 1));
	if (!copy) {
		std::fprintf(stderr, "Out of memory for list url %s.\n", text);
		return 1;
	}
	std::memcpy(copy, server, length);
	copy[length] = '\0';
	std::free(parsed_server);
	list_server = parsed_server = copy;
	list_path = slash;
	return 0;
}

int parse_arguments(int argc, char** argv)
{
	for (int i = 1; i < argc; i++) {
		const char* arg = argv[i];
		int remaining = argc - i;
		if (arg[0] == '-') {
			if (int status = parse_option(arg + 1))
				return status;
			continue;
		}
		if (arg[0] == '@') {
			if (int status = parse_list_url(arg + 1))
				return status;
			continue;
		}
		if (remaining == 1) {
			// A last positional argument is an entry name or nothing; never a gateway.
			if (lanx_gateway_text)
				return -1;
			print_usage();
			return 1;
		}
		uint32_t lanx = net_inet_addr(arg);
		uint32_t world = net_inet_addr(argv[i + 1]);
		if (lanx == 0 || lanx == 0xFFFFFFFF || world == 0 || world == 0xFFFFFFFF)
			continue;
		lanx_gateway_text = arg;
		world_gateway_text = argv[i + 1];
		ras_entry_name = nullptr;
		if (remaining > 2 && argv[i + 2][0] != '@' && argv[i + 2][0] != '-')
			ras_entry_name = argv[i + 2];
		// Move on by one only: the world gateway is tried next as a first gateway.
	}
	return -1;
}
