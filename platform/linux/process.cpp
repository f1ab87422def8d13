// Relaunching detached: this program again, its own session, the word's hold handed over.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/linux/shared_word_fd.h"

extern char** environ;

// Starts child_argv from our own file in a session of its own, word_fd (if any) as HANDED_WORD_FD
// and nothing else of ours; 0 or the error.
static int spawn_detached(char** child_argv, int word_fd)
{
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
	return r;
}

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
	int r = 0;
	if (word_fd == HANDED_WORD_FD) {
		spare_fd = fcntl(word_fd, F_DUPFD_CLOEXEC, HANDED_WORD_FD + 1);
		word_fd = spare_fd;
		if (spare_fd < 0)
			r = errno;
	}
	if (r == 0)
		r = spawn_detached(child_argv, word_fd);

	if (spare_fd >= 0)
		close(spare_fd);
	delete[] child_argv;
	*error = r;
	return r == 0;
}
