#include "platform/process.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/windows/disconnection_event.h"
#include "platform/windows/shared_word_handle.h"

static HANDLE disconnection_event;

bool process_relaunch(int, char**, int* error)
{
	char path[MAX_PATH + 1];
	// A cut path could name another program: refuse it rather than start that.
	DWORD length = GetModuleFileNameA(GetModuleHandleA(NULL), path, sizeof path);
	if (length == 0 || length >= sizeof path) {
		*error = length == 0 ? static_cast<int>(GetLastError()) : ERROR_INSUFFICIENT_BUFFER;
		return false;
	}

	// Sized from the command line itself, so a line of any length fits.
	const char* line = GetCommandLineA();
	size_t size = std::strlen(line) + sizeof " --no-fork";
	char* child_line = static_cast<char*>(std::malloc(size));
	if (child_line == NULL) {
		*error = ERROR_NOT_ENOUGH_MEMORY;
		return false;
	}
	std::snprintf(child_line, size, "%s --no-fork", line);

	STARTUPINFOA startup;
	std::memset(&startup, 0, sizeof startup);
	startup.cb = sizeof startup;
	PROCESS_INFORMATION info;
	std::memset(&info, 0, sizeof info);

	// The child must find the section new.
	shared_word_close();
	BOOL ok = CreateProcessA(path, child_line, NULL, NULL, TRUE, DETACHED_PROCESS, NULL, NULL, &startup,
	    &info);
	*error = ok ? 0 : static_cast<int>(GetLastError());
	std::free(child_line);
	return ok != FALSE;
}

bool event_create(int* error)
{
	disconnection_event = CreateEventA(NULL, FALSE, FALSE, NULL);
	if (disconnection_event == NULL) {
		*error = static_cast<int>(GetLastError());
		return false;
	}
	return true;
}

HANDLE disconnection_event_handle()
{
	return disconnection_event;
}

bool event_wait(uint32_t ms)
{
	return WaitForSingleObject(disconnection_event, ms) == WAIT_OBJECT_0;
}

void process_sleep(uint32_t ms)
{
	Sleep(ms);
}

// A detached copy has no console and no signals: "--exit" through the word is its stop road,
// and its log is never renamed under it while it runs.
bool process_catch_signals(int*)
{
	return true;
}

bool process_stop_requested()
{
	return false;
}

bool process_take_log_reopen()
{
	return false;
}
