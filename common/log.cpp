#include "common/log.h"

#include <cstdarg>

#include "platform/files.h"

FILE* log_stream;

// The log is never handed to a child (pppd, a relaunched copy): "e" closes it on exec, "N"
// makes it uninheritable on Windows.
#ifdef _WIN32
static constexpr const char* LOG_MODE = "aN";
#else
static constexpr const char* LOG_MODE = "ae";
#endif

// The name the log was opened under, for reopening it after a rotation.
static const char* log_path;

bool log_open(const char* path)
{
	log_path = path;
	log_stream = std::fopen(path, LOG_MODE);
	return log_stream != nullptr;
}

bool log_reopen()
{
	// The old stream serves on when the name cannot be opened again.
	FILE* reopened = std::fopen(log_path, LOG_MODE);
	if (reopened == nullptr)
		return false;
	std::fclose(log_stream);
	log_stream = reopened;
	return true;
}

void log_follow_name()
{
	if (!file_still_named(log_stream, log_path))
		log_reopen();
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
