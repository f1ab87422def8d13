// Any argument vector (the input split at NUL bytes) through the argument loop, then through
// the entry point as a command to a running copy. The settings must point where the loop
// promises, every failure must write exactly its one message, and nothing may leak.
#include <sanitizer/lsan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/settings.h"
#include "control/command_line.h"
#include "common/control_word.h"
#include "control/entry.h"
#include "platform/net.h"
#include "prefix/list_download.h"
#include "tests/fake/fake_shared_word.h"

namespace {

constexpr size_t MAX_ARGS = 64;
const char* const default_server = list_server;
const char* const default_path = list_path;
std::FILE* report;

[[noreturn]] void fail(const char* what)
{
	std::fprintf(report, "command_line_fuzz: %s\n", what);
	std::abort();
}

const char banner[] =
	"LanxRoute version 1.1\n"
	"Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]\n"
	"\n"
	"  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n"
	"  or   lanxroute  --exit asks the running copy of lanxroute to exit.\n";

// Settings as a fresh process has them; a server copy the loop made is released.
void reset_settings()
{
	if (list_server != default_server)
		std::free(const_cast<char*>(list_server));
	list_server = default_server;
	list_path = default_path;
	lanx_gateway_text = nullptr;
	world_gateway_text = nullptr;
	ras_entry_name = nullptr;
	no_fork = false;
}

bool is_gateway(const char* text)
{
	uint32_t a = net_inet_addr(text);
	return a != 0 && a != 0xFFFFFFFF;
}

// What the loop left, checked against the vector it was given.
void check_settings(int argc, char** argv)
{
	if ((lanx_gateway_text == nullptr) != (world_gateway_text == nullptr))
		fail("one gateway without the other");
	if (lanx_gateway_text == nullptr && ras_entry_name != nullptr)
		fail("an entry name without gateways");
	if (lanx_gateway_text != nullptr) {
		int i = 1;
		while (i < argc - 1 && argv[i] != lanx_gateway_text)
			i++;
		if (i >= argc - 1 || argv[i + 1] != world_gateway_text)
			fail("the gateways are not two neighbouring arguments");
		if (!is_gateway(lanx_gateway_text) || !is_gateway(world_gateway_text))
			fail("a gateway that is not an address");
		if (ras_entry_name != nullptr &&
		    (i + 2 >= argc || argv[i + 2] != ras_entry_name || ras_entry_name[0] == '@' ||
			ras_entry_name[0] == '-'))
			fail("the entry name is not the plain argument after the gateways");
	}
	if (list_path == default_path) {
		if (list_server != default_server)
			fail("a new server without a new path");
		return;
	}
	// The path lies inside an '@' argument, after its host part, which the server copies.
	int i = 1;
	while (i < argc && !(list_path > argv[i] && list_path <= argv[i] + std::strlen(argv[i])))
		i++;
	if (i == argc || argv[i][0] != '@' || list_path[0] != '/')
		fail("the path is not the rest of an '@' argument");
	const char* host = argv[i] + 1;
	if (std::strncmp(host, "http://", 7) == 0)
		host += 7;
	size_t n = static_cast<size_t>(list_path - host);
	if (list_path < host || std::memchr(host, '/', n) != nullptr || std::strlen(list_server) != n ||
	    std::memcmp(list_server, host, n) != 0)
		fail("the server is not the host part of the '@' argument");
}

// The one message a failing loop writes: the banner, or a refusal naming one argument.
bool one_failure_message(const std::string& err, int argc, char** argv)
{
	if (err == banner)
		return true;
	for (int i = 1; i < argc; i++) {
		if (argv[i][0] == '-' && err == std::string("Invalid numeric flag ") + (argv[i] + 1) + ".\n")
			return true;
		if (argv[i][0] == '@' && err == std::string("Invalid list url ") + (argv[i] + 1) + ".\n")
			return true;
	}
	return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	// The program's own messages are captured; this target's go where stderr went.
	report = stderr;
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	// Each argument in a block of its own, so reading past its end is caught.
	std::vector<char*> argv{strdup("lanxroute")};
	size_t at = 0;
	while (at < size && argv.size() < MAX_ARGS) {
		const void* nul = std::memchr(data + at, 0, size - at);
		size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - (data + at)) : size - at;
		char* arg = static_cast<char*>(std::malloc(n + 1));
		std::memcpy(arg, data + at, n);
		arg[n] = '\0';
		argv.push_back(arg);
		at += n + 1;
	}
	int argc = static_cast<int>(argv.size());
	argv.push_back(nullptr);

	// A later '@' drops the earlier server copy on purpose: the copy lives for the process.
	int urls = 0;
	for (int i = 1; i < argc; i++)
		urls += argv[i][0] == '@';
	if (urls > 1)
		__lsan_disable();

	char* err_text = nullptr;
	size_t err_size = 0;
	std::FILE* saved = stderr;

	fake_shared_word_reset();
	control_word = &fake_shared_word.word;
	control_word_write(0);
	reset_settings();
	stderr = open_memstream(&err_text, &err_size);
	int status = parse_arguments(argc, argv.data());
	std::fclose(stderr);
	stderr = saved;
	std::string err(err_text, err_size);
	std::free(err_text);
	if (status != -1 && status != 1)
		fail("the loop ended with a status other than -1 or 1");
	if (status == -1 && !err.empty())
		fail("the loop wrote a message and went on");
	if (status == 1 && !one_failure_message(err, argc, argv.data()))
		fail("a failing loop did not write exactly one message");
	check_settings(argc, argv.data());
	uint32_t loop_word = fake_shared_word.word;
	bool any_option = false;
	for (int i = 1; i < argc; i++)
		any_option |= argv[i][0] == '-';
	if (!any_option && loop_word != 0)
		fail("the word changed without an option");

	// The same vector as a command to a running copy: the word ends as the loop left it.
	fake_shared_word_reset();
	fake_shared_word.existed = true;
	reset_settings();
	stderr = open_memstream(&err_text, &err_size);
	int entry_status = entry_point(argc, argv.data());
	std::fclose(stderr);
	stderr = saved;
	std::string entry_err(err_text, err_size);
	std::free(err_text);
	if (entry_status != 1)
		fail("a command to a running copy did not end with status 1");
	if (argc < 2) {
		if (fake_shared_word.open_calls != 0 || entry_err != banner)
			fail("no argument must give the banner before the word is opened");
	} else {
		if (fake_shared_word.word != loop_word)
			fail("the entry point left another word than the loop");
		std::string want = err;
		if (status == -1 && (loop_word & CW_EXIT) == 0)
			want = "LanxRoute is already running.\n";
		if (entry_err != want)
			fail("the entry point wrote other messages than the loop and the decision");
	}
	reset_settings();

	if (urls > 1)
		__lsan_enable();
	for (char* arg : argv)
		std::free(arg);
	return 0;
}
