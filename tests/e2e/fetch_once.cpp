// One list download against the real HTTP client, its log on standard output.
// fetch_once [--dump] [--out FILE] (@[http://]host/path | host path)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/settings.h"
#include "common/control_word.h"
#include "common/log.h"
#include "prefix/list_download.h"

int main(int argc, char** argv)
{
	uint32_t word = 0;
	control_word = &word;
	log_stream = stdout;
	const char* out = nullptr;
	char* rest[2] = {nullptr, nullptr};
	int n = 0;
	for (int i = 1; i < argc; i++) {
		if (std::strcmp(argv[i], "--dump") == 0)
			word |= CW_DUMP_LIST;
		else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
			out = argv[++i];
		else if (n < 2)
			rest[n++] = argv[i];
	}
	if (n == 1 && rest[0][0] == '@') {
		char* host = rest[0] + 1;
		if (std::strncmp(host, "http://", 7) == 0)
			host += 7;
		char* slash = std::strchr(host, '/');
		if (slash == nullptr) {
			std::fputs("usage: fetch_once @host/path | host path\n", stderr);
			return 2;
		}
		list_path = strdup(slash);
		*slash = '\0';
		list_server = host;
	} else if (n == 2) {
		list_server = rest[0];
		list_path = rest[1];
	} else {
		std::fputs("usage: fetch_once [--dump] [--out FILE] @host/path | host path\n", stderr);
		return 2;
	}

	char* text = fetch_list_text();
	if (text == nullptr) {
		std::printf("none\n");
		return 0;
	}
	size_t length = std::strlen(text);
	std::printf("length %zu\n", length);
	if (out != nullptr) {
		std::FILE* f = std::fopen(out, "wb");
		if (f == nullptr || std::fwrite(text, 1, length, f) != length || std::fclose(f) != 0)
			return 1;
	}
	std::free(text);
	return 0;
}
