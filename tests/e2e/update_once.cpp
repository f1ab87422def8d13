// Update cycles against the real routing table, their log on standard output.
// update_once [--cycles N [--every K]] [numeric flag like -10] [@host/path] <lanx gateway> <world gateway>
// With --cycles, N cycles run in this one process, each followed by its result line, and every
// K cycles a line "cycle C rss R fds F ms T" (resident kB and open descriptors from /proc, and the
// cycle's wall time in milliseconds): later cycles show what a long-running copy spends.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "control/command_line.h"
#include "routes/cycle.h"

static long resident_kb()
{
	std::FILE* f = std::fopen("/proc/self/status", "r");
	if (f == nullptr)
		return -1;
	char line[256];
	long kb = -1;
	while (std::fgets(line, sizeof line, f) != nullptr)
		if (std::strncmp(line, "VmRSS:", 6) == 0)
			kb = std::strtol(line + 6, nullptr, 10);
	std::fclose(f);
	return kb;
}

// The iterator's own descriptor is counted too; it is the same in every count.
static long open_descriptors()
{
	std::error_code ec;
	long n = 0;
	for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec))
		n++;
	return ec ? -1 : n;
}

static long count_argument(const char* text)
{
	char* end = nullptr;
	long n = std::strtol(text, &end, 10);
	return end != text && *end == '\0' && n > 0 ? n : 0;
}

int main(int argc, char** argv)
{
	long cycles = 1;
	long every = 0;
	while (argc > 2 && (std::strcmp(argv[1], "--cycles") == 0 || std::strcmp(argv[1], "--every") == 0)) {
		long n = count_argument(argv[2]);
		if (n == 0) {
			std::fprintf(stderr, "update_once: %s wants a positive count\n", argv[1]);
			return 2;
		}
		if (std::strcmp(argv[1], "--cycles") == 0)
			cycles = n;
		else
			every = n;
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
	for (long c = 1; c <= cycles; c++) {
		auto start = std::chrono::steady_clock::now();
		result = run_update_cycle();
		std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
		if (every > 0 && c % every == 0)
			log_write("cycle %ld rss %ld fds %ld ms %.1f\n", c, resident_kb(), open_descriptors(),
				  took.count());
		log_flush();
	}
	return result;
}
