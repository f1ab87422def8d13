#include "tests/fake/fake_files.h"

#include "platform/files.h"

std::string fake_static_file;

std::FILE* open_regular_file(const char* name)
{
	if (fake_static_file.empty() || name != std::string("lanxroute.static"))
		return nullptr;
	return fmemopen(fake_static_file.data(), fake_static_file.size(), "rb");
}
