#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* open_regular_file(const char* name)
{
	// Non-blocking, so that opening a FIFO returns at once; the check below refuses it.
	int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	struct stat st;
	if (fstat(fd, &st) < 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) < 0) {
		close(fd);
		return nullptr;
	}
	std::FILE* file = fdopen(fd, "rb");
	if (!file)
		close(fd);
	return file;
}

bool file_still_named(std::FILE* stream, const char* name)
{
	struct stat open_file, named;
	if (fstat(fileno(stream), &open_file) != 0 || stat(name, &named) != 0)
		return false;
	return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}
