#pragma once
// Files the cycle reads by name.
#include <cstdio>

// Opens name for reading in binary mode when it is a regular file; null for anything else, so
// that a FIFO or a device in its place can never block the cycle.
std::FILE* open_regular_file(const char* name);
// True while name still names the file that stream writes to; false once it was renamed away or
// deleted (a rotation), so that the caller opens the name anew.
bool file_still_named(std::FILE* stream, const char* name);
