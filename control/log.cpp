#include "control/log.h"

#include <cstdarg>

FILE* log_stream;

bool log_open(const char* path)
{
	log_stream = std::fopen(path, "a");
	return log_stream != nullptr;
}

void log_write(const char* format, ...)
{
	va_list ap;
	va_start(ap, format);
	std::vfprintf(log_stream, format, ap);
	va_end(ap);
}

void log_flush()
{
	std::fflush(log_stream);
}
