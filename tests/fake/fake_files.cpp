#include "platform/files.h"
#include "tests/fake/fake_http.h"

std::string fake_static_file;

std::FILE* open_regular_file(const char* name)
{
	bool there = !fake_static_file.empty() && name == std::string("lanxroute.static");
	return there ? fmemopen(fake_static_file.data(), fake_static_file.size(), "rb") : nullptr;
}
