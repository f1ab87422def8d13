#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/linux/drop_watch.h"
#include "platform/linux/shared_word_fd.h"
#include "platform/linux/stop_signal.h"

extern char** environ;

// The descriptor number at which a relaunched copy finds the word's locked descriptor.
static constexpr int HANDED_WORD_FD = 3;

static int event_fd = -1;
static int watched_fd = -1;

bool process_relaunch(int argc, char** argv, int* error)
{
	char** child_argv = new (std::nothrow) char*[static_cast<size_t>(argc) + 2];
	if (child_argv == nullptr) {
		*error = ENOMEM;
		return false;
	}
	for (int i = 0; i < argc; i++)
		child_argv[i] = argv[i];
	static char no_fork_arg[] = "--no-fork";
	child_argv[argc] = no_fork_arg;
	child_argv[argc + 1] = nullptr;

	// dup2 onto its own number would keep close-on-exec: hand over a copy instead.
	int word_fd = shared_word_descriptor();
	int spare_fd = -1;
	if (word_fd == HANDED_WORD_FD) {
		spare_fd = fcntl(word_fd, F_DUPFD_CLOEXEC, HANDED_WORD_FD + 1);
		if (spare_fd < 0) {
			*error = errno;
			delete[] child_argv;
			return false;
		}
		word_fd = spare_fd;
	}

	posix_spawn_file_actions_t actions;
	posix_spawnattr_t attr;
	posix_spawn_file_actions_init(&actions);
	posix_spawnattr_init(&attr);
	if (word_fd >= 0)
		posix_spawn_file_actions_adddup2(&actions, word_fd, HANDED_WORD_FD);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, 1, 2);
	// Nothing else of the invoker's goes along: an inherited pipe would keep its reader waiting.
	posix_spawn_file_actions_addclosefrom_np(&actions, HANDED_WORD_FD + 1);
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

	pid_t pid;
	int r = posix_spawn(&pid, "/proc/self/exe", &actions, &attr, child_argv, environ);

	posix_spawnattr_destroy(&attr);
	posix_spawn_file_actions_destroy(&actions);
	if (spare_fd >= 0)
		close(spare_fd);
	delete[] child_argv;
	if (r != 0) {
		*error = r;
		return false;
	}
	return true;
}

bool event_create(int* error)
{
	event_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	if (event_fd < 0) {
		*error = errno;
		return false;
	}
	return true;
}

void event_watch_drop(int fd)
{
	watched_fd = fd;
}

void event_unwatch_drop(int fd)
{
	if (watched_fd == fd)
		watched_fd = -1;
}

static int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Polls the stop descriptor, and with_event the event and the watched drop, until ms pass: true
// when the event or the drop came first.
static bool wait_for(uint32_t ms, bool with_event)
{
	int64_t deadline = now_ms() + ms;
	for (;;) {
		struct pollfd fds[3] = {{stop_signal_fd(), POLLIN, 0},
					{with_event ? event_fd : -1, POLLIN, 0},
					{with_event ? watched_fd : -1, POLLIN, 0}};
		int64_t left = deadline - now_ms();
		if (left < 0)
			left = 0;
		int n = poll(fds, 3, static_cast<int>(left));
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0 || fds[0].revents != 0)
			return false;
		if (fds[1].revents != 0) {
			uint64_t count;
			if (read(event_fd, &count, sizeof count) < 0 && errno == EAGAIN)
				continue;
			return true;
		}
		// The drop notice fires once; the wait that sees it resets it.
		watched_fd = -1;
		return true;
	}
}

bool event_wait(uint32_t ms)
{
	return wait_for(ms, true);
}

void process_sleep(uint32_t ms)
{
	wait_for(ms, false);
}
