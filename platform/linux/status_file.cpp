// The status file beside the word: written whole under a temporary name, then renamed over it.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/shared_word_fd.h"
#include "platform/shared_word.h"

// The status file is the word's name with ".status", in the word's folder.
static void status_path(char* path, size_t size, const char* suffix)
{
	std::snprintf(path, size, "%s.status%s", shared_word_path(), suffix);
}

bool shared_word_publish_status(const char* text)
{
	char temporary[256], path[256];
	status_path(temporary, sizeof temporary, ".new");
	status_path(path, sizeof path, "");
	// A name someone else planted is neither followed nor written.
	unlink(temporary);
	int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
	if (fd < 0)
		return false;
	size_t length = std::strlen(text);
	bool written = write(fd, text, length) == static_cast<ssize_t>(length);
	close(fd);
	if (written && rename(temporary, path) == 0)
		return true;
	unlink(temporary);
	return false;
}

std::FILE* shared_word_open_status()
{
	char path[256];
	status_path(path, sizeof path, "");
	int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	// Only a file this user's copy wrote is its status.
	struct stat st;
	std::FILE* file = nullptr;
	if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
		file = fdopen(fd, "r");
	if (file == nullptr)
		close(fd);
	return file;
}
