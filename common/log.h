#pragma once
// The log stream: every diagnostic line of the background copy goes here.
#include <cstdint>
#include <cstdio>

extern FILE* log_stream;

// Opens path for appending; false when it cannot (errno tells why).
bool log_open(const char* path);
// Opens the same name again, for a log that was renamed away; the old stream stays on failure.
bool log_reopen();
// Reopens the name when it no longer names the open log (renamed or deleted by a rotation).
void log_follow_name();

void log_write(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_flush();

// Writes a network-order address as "%u.%u.%u.%u", without a line end.
void print_dotted(uint32_t address);
