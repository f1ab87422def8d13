#include "platform/files.h"

std::FILE* open_regular_file(const char* name)
{
	return std::fopen(name, "rb");
}
