// SIGTERM and SIGINT ask the copy to stop; SIGHUP asks it to reopen its log. Every wait of the
// copy ends on a stop request.
#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <time.h>
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

int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool wait_unless_stopped(int fd, uint32_t ms)
{
	int64_t deadline = now_ms() + ms;
	for (;;) {
		struct pollfd fds[2] = {{signals.wake_fd, POLLIN, 0}, {fd, POLLIN, 0}};
		int64_t left = deadline - now_ms();
		int n = poll(fds, 2, left > 0 ? static_cast<int>(left) : 0);
		if (n < 0 && errno == EINTR)
			continue;
		return n > 0 && fds[0].revents == 0;
	}
}

void process_sleep(uint32_t ms)
{
	wait_unless_stopped(-1, ms);
}
