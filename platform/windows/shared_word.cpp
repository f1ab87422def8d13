#include "platform/shared_word.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

#include "platform/windows/shared_word_handle.h"

static HANDLE section;

bool shared_word_open(bool* existed, int* error)
{
	// One word per host, whichever session a copy starts in; a caller without the right to create
	// a global object still gets a word of its session's own.
	section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4, "Global\\LanxRouteShmem");
	if (section == NULL)
		section = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4, "LanxRouteShmem");
	// Taken before the handle is tested: it tells whether the section existed.
	DWORD last = GetLastError();
	*error = static_cast<int>(last);
	*existed = last == ERROR_ALREADY_EXISTS;
	return section != NULL;
}

uint32_t* shared_word_map(int* error)
{
	void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 4);
	if (!view) {
		*error = static_cast<int>(GetLastError());
		return nullptr;
	}
	return static_cast<uint32_t*>(view);
}

void shared_word_close()
{
	if (section) {
		CloseHandle(section);
		section = NULL;
	}
}

bool shared_word_running()
{
	HANDLE open = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\LanxRouteShmem");
	if (open == NULL)
		open = OpenFileMappingA(FILE_MAP_READ, FALSE, "LanxRouteShmem");
	if (open == NULL)
		return false;
	CloseHandle(open);
	return true;
}

// The status file is "lanxroute.status" beside the program file, so that a command from any folder
// finds it; suffix names the temporary beside it.
static bool status_path(char* path, DWORD size, const char* suffix)
{
	DWORD length = GetModuleFileNameA(GetModuleHandleA(NULL), path, size);
	if (length == 0 || length >= size)
		return false;
	char* slash = std::strrchr(path, '\\');
	char* name = slash != nullptr ? slash + 1 : path;
	int room = static_cast<int>(size - static_cast<DWORD>(name - path));
	int written = std::snprintf(name, static_cast<size_t>(room), "lanxroute.status%s", suffix);
	return written > 0 && written < room;
}

bool shared_word_publish_status(const char* text)
{
	char temporary[MAX_PATH + 32], path[MAX_PATH + 32];
	if (!status_path(temporary, sizeof temporary, ".new") || !status_path(path, sizeof path, ""))
		return false;
	std::FILE* file = std::fopen(temporary, "wb");
	if (file == nullptr)
		return false;
	bool written = std::fputs(text, file) >= 0;
	written = std::fclose(file) == 0 && written;
	if (written && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING))
		return true;
	DeleteFileA(temporary);
	return false;
}

std::FILE* shared_word_open_status()
{
	char path[MAX_PATH + 32];
	return status_path(path, sizeof path, "") ? std::fopen(path, "rb") : nullptr;
}
