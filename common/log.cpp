#include "common/log.h"

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

void print_dotted(uint32_t address)
{
	// Network order: the first octet is the first byte in memory.
	const unsigned char* octets = reinterpret_cast<const unsigned char*>(&address);
	log_write("%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
}
