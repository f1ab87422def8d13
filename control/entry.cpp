#include "control/entry.h"

#include <cstdint>
#include <cstdio>

#include "common/control_word.h"
#include "common/settings.h"
#include "control/background.h"
#include "control/command_line.h"
#include "control/status.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/shared_word.h"

// Foreground road: starts the detached copy. 0 when it runs, 1 after the failure message.
static int relaunch_detached(int argc, char** argv)
{
	int error = 0;
	if (process_relaunch(argc, argv, &error))
		return 0;
	std::fprintf(stderr, "Could not fork LanxRoute to background (error code %d)\n", error);
	return 1;
}

int entry_point(int argc, char** argv)
{
	if (argc < 2) {
		print_usage();
		return 1;
	}
	// Questions never touch the shared word, so a running copy's flags stay as they are.
	switch (find_query_option(argc, argv)) {
	case QUERY_HELP:
		print_usage(stdout);
		return 0;
	case QUERY_VERSION:
		std::fputs(VERSION_LINE, stdout);
		return 0;
	case QUERY_STATUS:
		return print_status();
	case QUERY_NONE:
		break;
	}
	net_startup();

	bool existed = false;
	int error = 0;
	if (!shared_word_open(&existed, &error)) {
		std::fprintf(stderr, "Cannot determine whether LanxRoute is already running (error code %d)\n", error);
		return 1;
	}
	uint32_t* word = shared_word_map(&error);
	if (!word) {
		std::fprintf(stderr, "Cannot map shared memory (error code %d)\n", error);
		return 1;
	}
	control_word = word;
	// Every invocation clears a running copy's flags; the options set them afresh.
	control_word_write(0);

	int status = parse_arguments(argc, argv);
	if (status >= 0)
		return status;

	if (existed) {
		// The options have reached the running copy through the word.
		if (!control_word_has(CW_EXIT))
			std::fputs("LanxRoute is already running.\n", stderr);
		return 1;
	}
	if (no_fork)
		return background_copy();
	// A detached copy without gateways could never route anything.
	if (!lanx_gateway_text) {
		print_usage();
		return 1;
	}
	return relaunch_detached(argc, argv);
}
