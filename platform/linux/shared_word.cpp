#include "platform/shared_word.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/shared_word_fd.h"

// The word lives while any copy holds a lock on it: a lock taken with
// no wait means the word is new; every holder keeps a read lock.
// Root keeps it in a folder of its own under /run, where only root can create names, so no other
// user can plant it first; the unit's RuntimeDirectory= is that folder, the one writable place in /run.
const char* shared_word_path()
{
	return geteuid() == 0 ? "/run/lanxroute/LanxRouteShmem" : "/dev/shm/LanxRouteShmem";
}

// 0 when root's folder exists, made now (mode 0755) or a real folder of root's that only root can
// write, else the errno of the refusal.
static int word_folder()
{
	if (geteuid() != 0)
		return 0;
	if (mkdir("/run/lanxroute", 0755) == 0)
		return chmod("/run/lanxroute", 0755) == 0 ? 0 : errno;
	if (errno != EEXIST)
		return errno;
	struct stat st;
	if (lstat("/run/lanxroute", &st) != 0)
		return errno;
	if (!S_ISDIR(st.st_mode))
		return ENOTDIR;
	if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)))
		return EPERM;
	return 0;
}
// Where a relaunching parent hands its locked descriptor to the child.
static int word_fd = -1;

int shared_word_descriptor()
{
	return word_fd;
}

// 0 when the file is one this user alone controls, else the errno of the refusal.
static int refusal(const struct stat& st)
{
	if (!S_ISREG(st.st_mode))
		return EINVAL;
	if (st.st_uid != geteuid())
		return EPERM;
	if (st.st_mode & (S_IRWXG | S_IRWXO))
		return EACCES;
	return 0;
}

static bool lock_word(int fd, short type, int command)
{
	struct flock fl;
	std::memset(&fl, 0, sizeof fl);
	fl.l_type = type;
	fl.l_whence = SEEK_SET;
	int r;
	do
		r = fcntl(fd, command, &fl);
	while (r != 0 && errno == EINTR && command == F_OFD_SETLKW);
	return r == 0;
}

// The kernel lists in a descriptor's fdinfo the locks of its own open file description only.
static bool holds_read_lock(int fd)
{
	char path[64];
	std::snprintf(path, sizeof path, "/proc/self/fdinfo/%d", fd);
	FILE* f = std::fopen(path, "re");
	if (!f)
		return false;
	char line[256];
	bool held = false;
	while (std::fgets(line, sizeof line, f))
		if (std::strncmp(line, "lock:", 5) == 0 && std::strstr(line, " OFDLCK ") && std::strstr(line, " READ "))
			held = true;
	std::fclose(f);
	return held;
}

// Takes descriptor 3 as our hold when it is the word itself, ours, and locked by its own
// description: only a relaunching parent leaves it so.
static bool adopt_handed_word()
{
	struct stat handed, named;
	if (fstat(HANDED_WORD_FD, &handed) != 0 || refusal(handed) != 0 || handed.st_size < 4)
		return false;
	int flags = fcntl(HANDED_WORD_FD, F_GETFL);
	if (flags < 0 || (flags & O_ACCMODE) != O_RDWR)
		return false;
	int fd = open(shared_word_path(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return false;
	bool same = fstat(fd, &named) == 0 && named.st_dev == handed.st_dev && named.st_ino == handed.st_ino;
	close(fd);
	if (!same || !holds_read_lock(HANDED_WORD_FD))
		return false;
	if (fcntl(HANDED_WORD_FD, F_SETFD, FD_CLOEXEC) != 0)
		return false;
	word_fd = HANDED_WORD_FD;
	return true;
}

static bool refuse(int fd, int error_value, int* error)
{
	*error = error_value;
	close(fd);
	return false;
}

bool shared_word_open(bool* existed, int* error)
{
	*existed = false;
	*error = 0;
	if (adopt_handed_word())
		return true;

	if ((*error = word_folder()) != 0)
		return false;
	int fd = open(shared_word_path(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0) {
		*error = errno;
		return false;
	}
	struct stat st;
	if (fstat(fd, &st) != 0)
		return refuse(fd, errno, error);
	// A word planted by someone else must neither block nor steer us; leave it untouched.
	if (int r = refusal(st))
		return refuse(fd, r, error);

	if (lock_word(fd, F_WRLCK, F_OFD_SETLK)) {
		// New: size it, then turn the lock into a read lock in one step.
		if (ftruncate(fd, 4) != 0 || !lock_word(fd, F_RDLCK, F_OFD_SETLK))
			return refuse(fd, errno, error);
	} else if (errno == EAGAIN || errno == EACCES) {
		*existed = true;
		if (!lock_word(fd, F_RDLCK, F_OFD_SETLKW))
			return refuse(fd, errno, error);
		// A word shorter than the mapping would fault on first use.
		if (fstat(fd, &st) != 0)
			return refuse(fd, errno, error);
		if (st.st_size < 4)
			return refuse(fd, EINVAL, error);
	} else {
		return refuse(fd, errno, error);
	}
	word_fd = fd;
	return true;
}

uint32_t* shared_word_map(int* error)
{
	void* view = mmap(nullptr, 4, PROT_READ | PROT_WRITE, MAP_SHARED, word_fd, 0);
	if (view == MAP_FAILED) {
		*error = errno;
		return nullptr;
	}
	return static_cast<uint32_t*>(view);
}

bool shared_word_running()
{
	int fd = open(shared_word_path(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return false;
	// Every copy keeps a read lock: a write lock would conflict with it.
	struct flock fl;
	std::memset(&fl, 0, sizeof fl);
	fl.l_type = F_WRLCK;
	fl.l_whence = SEEK_SET;
	bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
	close(fd);
	return held;
}
