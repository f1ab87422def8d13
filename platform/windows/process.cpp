// Relaunching detached through CreateProcessA, and the sleep; a detached copy takes no signals.
#include "platform/process.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/windows/shared_word_handle.h"

// Appends arg to line, quoted so that the C runtime reads it back as the same one argument:
// backslashes count only before a quote, and each quote is escaped. Gives the new end.
static char* append_argument(char* line, const char* arg)
{
	*line++ = '"';
	for (const char* p = arg;; p++) {
		size_t backslashes = 0;
		while (*p == '\\') {
			backslashes++;
			p++;
		}
		// Before a quote, and before the closing quote, each backslash is doubled.
		size_t copies = *p == '"' || *p == '\0' ? 2 * backslashes : backslashes;
		std::memset(line, '\\', copies);
		line += copies;
		if (*p == '\0')
			break;
		if (*p == '"')
			*line++ = '\\';
		*line++ = *p;
	}
	*line++ = '"';
	*line++ = ' ';
	return line;
}

bool process_relaunch(int argc, char** argv, int* error)
{
	char path[MAX_PATH + 1];
	// A cut path could name another program: refuse it rather than start that.
	DWORD length = GetModuleFileNameA(GetModuleHandleA(NULL), path, sizeof path);
	if (length == 0 || length >= sizeof path) {
		*error = length == 0 ? static_cast<int>(GetLastError()) : ERROR_INSUFFICIENT_BUFFER;
		return false;
	}

	// Made from the parsed arguments, so that "--no-fork" is always an argument of its own, even
	// after an unclosed quote. Each character may double, plus quotes and a space.
	const char* no_fork = "--no-fork";
	size_t size = 2 * std::strlen(path) + 2 * std::strlen(no_fork) + 8;
	for (int i = 1; i < argc; i++)
		size += 2 * std::strlen(argv[i]) + 3;
	char* child_line = static_cast<char*>(std::malloc(size));
	if (child_line == NULL) {
		*error = ERROR_NOT_ENOUGH_MEMORY;
		return false;
	}
	char* end = append_argument(child_line, path);
	for (int i = 1; i < argc; i++)
		end = append_argument(end, argv[i]);
	end = append_argument(end, no_fork);
	end[-1] = '\0';

	STARTUPINFOA startup;
	std::memset(&startup, 0, sizeof startup);
	startup.cb = sizeof startup;
	PROCESS_INFORMATION info;
	std::memset(&info, 0, sizeof info);

	// The child must find the section new, and holds none of our handles: a pipe it inherited
	// would keep the invoker's reader waiting for as long as the copy runs.
	shared_word_close();
	BOOL ok = CreateProcessA(path, child_line, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &info);
	*error = ok ? 0 : static_cast<int>(GetLastError());
	if (ok) {
		CloseHandle(info.hThread);
		CloseHandle(info.hProcess);
	}
	std::free(child_line);
	return ok != FALSE;
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
