// SIGTERM and SIGINT ask the copy to stop; SIGHUP asks it to reopen its log.
#include "platform/process.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include "platform/linux/stop_signal.h"

// What the handlers saw; they only set these and wake the pollers.
struct Signals {
	volatile sig_atomic_t stop;
	volatile sig_atomic_t reopen_log;
	int wake_fd;
};
static Signals signals = {0, 0, -1};

static void on_signal(int number)
{
	int saved = errno;
	if (number == SIGHUP) {
		signals.reopen_log = 1;
	} else {
		signals.stop = 1;
		uint64_t one = 1;
		// Never read back: the descriptor stays readable, and every wait after this one ends too.
		if (write(signals.wake_fd, &one, sizeof one) < 0) {
		}
	}
	errno = saved;
}

bool process_catch_signals(int* error)
{
	signals.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	if (signals.wake_fd < 0) {
		*error = errno;
		return false;
	}
	struct sigaction action = {};
	action.sa_handler = on_signal;
	sigemptyset(&action.sa_mask);
	// Restarted calls keep the platform's loops simple; every blocking one also polls wake_fd.
	action.sa_flags = SA_RESTART;
	for (int number : {SIGTERM, SIGINT, SIGHUP})
		if (sigaction(number, &action, nullptr) != 0) {
			*error = errno;
			return false;
		}
	return true;
}

bool process_stop_requested()
{
	return signals.stop != 0;
}

bool process_take_log_reopen()
{
	if (signals.reopen_log == 0)
		return false;
	signals.reopen_log = 0;
	return true;
}

int stop_signal_fd()
{
	return signals.wake_fd;
}
