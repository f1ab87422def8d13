// Update cycles against the real routing table, their log on standard output.
// update_once [--cycles N] [numeric flag like -10] [@host/path] <lanx gateway> <world gateway>
// With --cycles, N cycles run in this one process, each followed by its result line and a line
// "cycle C ms T", its wall time: later cycles show what a long-running copy spends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "control/command_line.h"
#include "routes/cycle.h"

int main(int argc, char** argv)
{
	long cycles = 0; // none: one cycle, no time line
	if (argc > 2 && std::strcmp(argv[1], "--cycles") == 0) {
		cycles = std::strtol(argv[2], nullptr, 10);
		argv[2] = argv[0];
		argv += 2;
		argc -= 2;
	}

	uint32_t word = 0;
	control_word = &word;
	log_stream = stdout;
	int status = parse_arguments(argc, argv);
	if (status >= 0)
		return status;
	if (lanx_gateway_text == nullptr || world_gateway_text == nullptr) {
		print_usage();
		return 1;
	}
	convert_gateways();
	int result = 0;
	for (long c = 1; c <= (cycles > 0 ? cycles : 1); c++) {
		auto start = std::chrono::steady_clock::now();
		result = run_update_cycle();
		std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
		if (cycles > 0)
			log_write("cycle %ld ms %.1f\n", c, took.count());
		log_flush();
	}
	return result;
}
