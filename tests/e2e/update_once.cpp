// One update cycle against the real routing table, its log on standard output.
// update_once [numeric flag like -10] [@host/path] <lanx gateway> <world gateway>
#include <cstdint>
#include <cstdio>

#include "control/command_line.h"
#include "control/control_word.h"
#include "control/log.h"
#include "platform/net.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"

int main(int argc, char** argv)
{
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
	lanx_gateway = net_inet_addr(lanx_gateway_text);
	world_gateway = net_inet_addr(world_gateway_text);
	int result = update_routes();
	log_write("Updated route table %ssuccessfully\n", result != 0 ? "un" : "");
	log_flush();
	return result;
}
