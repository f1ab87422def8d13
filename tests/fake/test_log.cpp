#include "tests/fake/test_log.h"

#include <cstdio>

#include "common/log.h"

void test_log_start()
{
	if (log_stream)
		std::fclose(log_stream);
	std::FILE* f = std::tmpfile();
	log_stream = f;
}

std::string test_log_text()
{
	std::fflush(log_stream);
	std::rewind(log_stream);
	std::string text;
	char buf[4096];
	size_t n;
	while ((n = std::fread(buf, 1, sizeof buf, log_stream)) > 0)
		text.append(buf, n);
	std::fseek(log_stream, 0, SEEK_END);
	return text;
}
