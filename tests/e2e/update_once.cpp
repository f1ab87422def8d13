// Update cycles against the real routing table, their log on standard output.
// [LANX_CYCLES=N] update_once [numeric flag like -10] [@host/path] <lanx gateway> <world gateway>
// With LANX_CYCLES, N cycles run in this one process, each followed by its result line and a line
// "cycle C ms T cpu U", its wall and CPU time: later cycles show what a long-running copy spends.
// With LANX_KEPT_CHECK set: before each cycle, waits for a line feed on standard input, then says
// whether the table kept between cycles equals a dump taken at once.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "control/command_line.h"
#include "platform/linux/netlink.h"
#include "platform/net.h"
#include "platform/routing.h"
#include "routes/cycle.h"

static void compare_kept()
{
	RouteRow *kept = nullptr, *dumped = nullptr;
	uint32_t kept_count = 0, dumped_count = 0, status = 0;
	FetchStep failed;
	std::getchar();
	bool fetched = routing_fetch_routes(&kept, &kept_count, &status, &failed);
	std::vector<RouteRow> kept_rows(kept, kept + kept_count);
	routing_free(kept);
	netlink.doubt = true;
	fetched = routing_fetch_routes(&dumped, &dumped_count, &status, &failed) && fetched;
	bool same = fetched && kept_count == dumped_count &&
		    std::memcmp(kept_rows.data(), dumped, kept_count * sizeof(RouteRow)) == 0;
	log_write("kept %u rows, dump %u: %s\n", kept_count, dumped_count, same ? "same" : "different");
	routing_free(dumped);
}

int main(int argc, char** argv)
{
	const char* cycles_text = std::getenv("LANX_CYCLES");
	long cycles = cycles_text ? std::strtol(cycles_text, nullptr, 10) : 0; // none: one cycle, no time line

	uint32_t word = 0;
	control_word = &word;
	log_stream = stdout;
	if (int status = parse_arguments(argc, argv); status >= 0)
		return status;
	net_startup();
	convert_gateways();
	int result = 0;
	for (long c = 1; c <= (cycles > 0 ? cycles : 1); c++) {
		if (std::getenv("LANX_KEPT_CHECK") != nullptr)
			compare_kept();
		auto start = std::chrono::steady_clock::now();
		std::clock_t cpu = std::clock();
		result = run_update_cycle();
		std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
		if (cycles > 0)
			log_write("cycle %ld ms %.1f cpu %.1f\n", c, took.count(),
				  (std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
		log_flush();
	}
	return result;
}
