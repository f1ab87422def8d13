#include "control/background.h"

#include <cerrno>
#include <cstdio>

#include "control/command_line.h"
#include "control/control_word.h"
#include "control/log.h"
#include "dialup/dial.h"
#include "platform/dialup.h"
#include "platform/net.h"
#include "platform/process.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"

// The held dial-up connection, or 0.
static DialConnection connection;

int relaunch(int argc, char** argv)
{
	int error = 0;
	if (process_relaunch(argc, argv, &error))
		return 0;
	std::fprintf(stderr, "Could not fork LanxRoute to background (error code %d)\n", error);
	return 1;
}

// A copy started without a gateway pair has nothing to resolve: every cycle fails as if neither
// gateway had an interface, before anything of the table is read or changed.
static int run_cycle()
{
	if (lanx_gateway_text == nullptr || world_gateway_text == nullptr) {
		log_write("Bad LANX gateway specified: %s\n", "(none)");
		log_write("Bad WORLD gateway specified: %s\n", "(none)");
		return 1;
	}
	return update_routes();
}

int run_background()
{
	if (!log_open("lanxroute.log")) {
		int error = errno;
		std::fprintf(stderr, "Cannot open lanxroute.log (error code %d)\n", error);
		return 1;
	}
	log_write("--------------\n\n");
	reset_prefix_list();
	if (lanx_gateway_text != nullptr && world_gateway_text != nullptr) {
		lanx_gateway = net_inet_addr(lanx_gateway_text);
		world_gateway = net_inet_addr(world_gateway_text);
	}
	int error = 0;
	if (!event_create(&error)) {
		log_write("CreateEvent(^): %d\n", error);
		return 1;
	}
	connection = 0;
	if (control_word_has(CW_EXIT)) {
		log_write("Exiting\n");
		return 0;
	}
	return run_daemon();
}

int run_daemon()
{
	for (;;) {
		if (ras_entry_name != nullptr && connection == 0) {
			log_write("Dialing %s\n", ras_entry_name);
			log_flush();
			connection = dial_connection(ras_entry_name);
			while (connection == 0) {
				if (control_word_has(CW_EXIT)) {
					log_write("Exiting\n");
					return 0;
				}
				log_write("Redialing %s\n", ras_entry_name);
				log_flush();
				process_sleep(1000);
				connection = dial_connection(ras_entry_name);
			}
			dialup_notify_on_drop(connection);
		}

		log_write("Updating route table\n");
		log_flush();
		int result = run_cycle();
		log_write("Updated route table %ssuccessfully\n", result != 0 ? "un" : "");
		log_flush();

		// A drop ends the wait early: the dead link is hung up and the next pass redials.
		if (event_wait(5000) && connection != 0) {
			dialup_hang_up(connection);
			connection = 0;
		}
		if (control_word_has(CW_EXIT))
			break;
	}
	if (connection != 0) {
		dialup_hang_up(connection);
		connection = 0;
	}
	log_write("Exiting\n");
	return 0;
}
