#include "control/background.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "control/status.h"
#include "dialup/dial.h"
#include "platform/dialup.h"
#include "platform/notify.h"
#include "platform/process.h"
#include "prefix/prefix_list.h"
#include "routes/cycle.h"

// The dial-up connection the copy holds, or 0.
static DialHandle held_connection;

// A rotated log is reopened at the next line the loop writes: on SIGHUP, or once its name is gone.
static void follow_log_rotation()
{
	if (process_take_log_reopen())
		log_reopen();
	else
		log_follow_name();
}

// A pass of the loop tells a watching service manager that the copy is alive.
static void watchdog_ping()
{
	if (notify_watchdog_wanted())
		notify_service_manager("WATCHDOG=1");
}

// One cycle, then its status published; the first one ended makes the copy ready.
static void cycle_and_publish(bool* ready)
{
	auto started = std::chrono::steady_clock::now();
	int result = run_update_cycle();
	auto elapsed =
		std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
	if (!*ready)
		notify_service_manager("READY=1");
	*ready = true;
	publish_cycle_status(result, static_cast<uint32_t>(elapsed.count()), ras_entry_name, held_connection != 0);
	watchdog_ping();
}

// The main loop; 0 when it ends on an exit request.
static int main_loop();

int background_copy()
{
	if (!log_open("lanxroute.log")) {
		int error = errno;
		std::fprintf(stderr, "Cannot open lanxroute.log (error code %d)\n", error);
		return 1;
	}
	log_write("--------------\n\n");
	reset_prefix_list();
	convert_gateways();
	int error = 0;
	if (!dialup_event_create(&error)) {
		log_write("CreateEvent(^): %d\n", error);
		return 1;
	}
	if (!process_catch_signals(&error)) {
		log_write("Cannot take signals: %d\n", error);
		return 1;
	}
	held_connection = 0;
	publish_no_cycle_yet();
	return main_loop();
}

static int main_loop()
{
	bool ready = false;
	while (!exit_requested()) {
		follow_log_rotation();
		if (ras_entry_name != nullptr && held_connection == 0) {
			log_write("Dialing %s\n", ras_entry_name);
			log_flush();
			held_connection = dial_connection(ras_entry_name);
			while (held_connection == 0) {
				follow_log_rotation();
				if (exit_requested())
					break;
				log_write("Redialing %s\n", ras_entry_name);
				log_flush();
				watchdog_ping();
				process_sleep(1000);
				held_connection = dial_connection(ras_entry_name);
			}
			// An exit request ended the redialing.
			if (held_connection == 0)
				break;
			dialup_notify_on_drop(held_connection);
		}

		cycle_and_publish(&ready);

		// A drop ends the wait early: the dead link is hung up and the next pass redials.
		if (dialup_wait_for_drop(5000) && held_connection != 0) {
			dialup_hang_up(held_connection);
			held_connection = 0;
		}
	}
	if (held_connection != 0) {
		dialup_hang_up(held_connection);
		held_connection = 0;
	}
	log_write("Exiting\n");
	return 0;
}
