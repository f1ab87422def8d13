#include "platform/shared_word.h"

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
