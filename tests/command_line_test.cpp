// The argument loop and the start-up decision, over the fake shared word and process layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/settings.h"
#include "control/command_line.h"
#include "common/control_word.h"
#include "control/entry.h"
#include "prefix/list_download.h"
#include "tests/fake/fake_process.h"
#include "tests/fake/fake_shared_word.h"

namespace {

const char* const default_server = "default.server";
const char* const default_path = "/default.txt";

const char banner[] =
	"LanxRoute version 1.1\n"
	"Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]\n"
	"\n"
	"  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n"
	"  or   lanxroute  --exit asks the running copy of lanxroute to exit.\n";

void reset_state()
{
	lanx_gateway_text = nullptr;
	world_gateway_text = nullptr;
	ras_entry_name = nullptr;
	no_fork = false;
	// The program never releases a server copy; the test does, before it drops one.
	static const char* const program_default = list_server;
	if (list_server != default_server && list_server != program_default)
		std::free(const_cast<char*>(list_server));
	list_server = default_server;
	list_path = default_path;
	fake_shared_word_reset();
	fake_process_reset();
	fake_calls.clear();
	control_word = &fake_shared_word.word;
}

// The program name first; the texts are literals, so the settings may point into them.
std::vector<char*> make_argv(const std::vector<const char*>& args)
{
	std::vector<char*> argv{const_cast<char*>("lanxroute")};
	for (const char* a : args)
		argv.push_back(const_cast<char*>(a));
	argv.push_back(nullptr);
	return argv;
}

struct Outcome {
	int status;
	std::string err;
};

// From a fresh state; with loop_only, the loop alone after the word was cleared as start-up does.
Outcome run(std::vector<char*>& argv, bool loop_only)
{
	if (loop_only)
		fake_shared_word.word = 0;
	testing::internal::CaptureStderr();
	int argc = static_cast<int>(argv.size()) - 1;
	int status = loop_only ? parse_arguments(argc, argv.data()) : entry_point(argc, argv.data());
	return {status, testing::internal::GetCapturedStderr()};
}

class CommandLine : public testing::Test {
protected:
	void SetUp() override { reset_state(); }
};

TEST_F(CommandLine, ArgumentLoopTable)
{
	struct Case {
		const char* what;
		std::vector<const char*> args;
		int status;		// -1: the loop ran to its end
		int lanx, world, entry;	// argument indices the settings point at, 0 for none
		uint32_t word;
		bool fork_off;
		const char* err;
	};
	const Case cases[] = {
		// The worked examples.
		{"two gateways", {"10.0.0.1", "10.0.0.2"}, -1, 1, 2, 0, 0, false, ""},
		{"gateways and entry", {"10.0.0.1", "10.0.0.2", "MyLink"}, -1, 1, 2, 3, 0, false, ""},
		{"gateways then --changes", {"10.0.0.1", "10.0.0.2", "--changes"}, -1, 1, 2, 0, 0x10, false, ""},
		{"entry then --verbose", {"10.0.0.1", "10.0.0.2", "MyLink", "--verbose"}, -1, 1, 2, 3, 0x3E, false, ""},
		{"three addresses: the pair moves on", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, -1, 2, 3, 0, 0, false, ""},
		{"three addresses and entry", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "MyLink"}, -1, 2, 3, 4, 0, false, ""},
		{"one address", {"10.0.0.1"}, 1, 0, 0, 0, 0, false, banner},
		{"bad partner, last positional", {"10.0.0.1", "bogus", "MyLink"}, 1, 0, 0, 0, 0, false, banner},
		{"bad partner, option last", {"10.0.0.1", "bogus", "--verbose"}, -1, 0, 0, 0, 0x3E, false, ""},

		// Gateways refused and accepted.
		{"0.0.0.0 is no gateway", {"0.0.0.0", "10.0.0.2", "MyLink"}, 1, 0, 0, 0, 0, false, banner},
		{"broadcast is no gateway", {"10.0.0.1", "255.255.255.255", "MyLink"}, 1, 0, 0, 0, 0, false, banner},
		{"0.0.0.0 as world, option last", {"10.0.0.1", "0.0.0.0", "-1"}, -1, 0, 0, 0, 1, false, ""},
		{"short inet_addr forms", {"1", "2"}, -1, 1, 2, 0, 0, false, ""},
		{"entry position holds an option", {"10.0.0.1", "10.0.0.2", "-1"}, -1, 1, 2, 0, 1, false, ""},
		{"entry position holds a list url", {"10.0.0.1", "10.0.0.2", "@h/p"}, -1, 1, 2, 0, 0, false, ""},
		{"a later pair replaces the entry", {"10.0.0.1", "10.0.0.2", "MyLink", "10.0.0.3", "10.0.0.4"}, -1, 4, 5,
		 0, 0, false, ""},

		// Named options: whole-text comparison; --exit and --no-fork keep this process.
		{"--exit", {"--exit"}, -1, 0, 0, 0, 0x40, true, ""},
		{"--no-fork keeps the word", {"--changes", "--no-fork"}, -1, 0, 0, 0, 0x10, true, ""},

		// Numeric options: the %x conversion.
		{"-exit reads the e", {"-exit"}, -1, 0, 0, 0, 0x0E, false, ""},
		{"-verbose converts nothing", {"-verbose"}, 1, 0, 0, 0, 0, false, "Invalid numeric flag verbose.\n"},
		{"leading blanks", {"-  7"}, -1, 0, 0, 0, 0x07, false, ""},
		{"trailing junk ignored", {"-12zz"}, -1, 0, 0, 0, 0x12, false, ""},
		{"--exitx is a negative number", {"--exitx"}, -1, 0, 0, 0, 0xFFFFFFF2, false, ""},
		{"named options are case-sensitive", {"--Verbose"}, 1, 0, 0, 0, 0, false,
		 "Invalid numeric flag -Verbose.\n"},
		{"a bare -- is a sign alone", {"--"}, 1, 0, 0, 0, 0, false, "Invalid numeric flag -.\n"},
		{"word kept before a bad flag", {"--changes", "-zz", "--verbose"}, 1, 0, 0, 0, 0x10, false,
		 "Invalid numeric flag zz.\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		std::vector<char*> argv = make_argv(c.args);
		Outcome out = run(argv, true);
		EXPECT_EQ(out.status, c.status);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(lanx_gateway_text, c.lanx ? argv[c.lanx] : nullptr);
		EXPECT_EQ(world_gateway_text, c.world ? argv[c.world] : nullptr);
		EXPECT_EQ(ras_entry_name, c.entry ? argv[c.entry] : nullptr);
		EXPECT_EQ(fake_shared_word.word, c.word);
		EXPECT_EQ(no_fork, c.fork_off);
	}
}

TEST_F(CommandLine, ListUrlTable)
{
	struct Case {
		const char* what;
		const char* arg;
		int status;
		const char* server;
		size_t path_offset;	// where list_path starts inside the argument
		const char* err;
	};
	const Case cases[] = {
		{"host and path", "@host/list.txt", -1, "host", 5, ""},
		{"http prefix skipped", "@http://host/x/y.txt", -1, "host", 12, ""},
		{"prefix test is case-sensitive", "@HTTP://host/x", -1, "HTTP:", 6, ""},
		{"prefix needs both slashes", "@http:/x/y", -1, "http:", 6, ""},
		{"empty server", "@/x", -1, "", 1, ""},
		{"no slash after the prefix", "@http://host", 1, default_server, 0, "Invalid list url http://host.\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		std::vector<char*> argv = make_argv({c.arg});
		Outcome out = run(argv, true);
		EXPECT_EQ(out.status, c.status);
		EXPECT_EQ(out.err, c.err);
		EXPECT_STREQ(list_server, c.server);
		// The path is the argument itself, the server a copy of its own.
		EXPECT_EQ(list_path, c.status == -1 ? argv[1] + c.path_offset : default_path);
		EXPECT_NE(list_server, static_cast<const char*>(argv[1]) + 1);
	}
}

TEST_F(CommandLine, SecondListUrlReplacesWithoutReleasing)
{
	std::vector<char*> one = make_argv({"@first/a"});
	std::vector<char*> two = make_argv({"--changes", "@second/b"});
	ASSERT_EQ(run(one, true).status, -1);
	const char* first = list_server;
	ASSERT_EQ(run(two, true).status, -1);
	EXPECT_STREQ(list_server, "second");
	EXPECT_STREQ(list_path, "/b");
	// Still readable: the earlier copy lives for the process.
	EXPECT_STREQ(first, "first");
	std::free(const_cast<char*>(first));
}

// Options never combine: after any sequence the word holds what the last writing option stored, and any
// 32-bit value written as a numeric option arrives whole, in either case of hex digits.
TEST_F(CommandLine, LastWritingOptionWins)
{
	struct Option {
		const char* arg;	// nullptr: a fresh random numeric option
		bool writes;
		uint32_t value;
	};
	const Option pool[] = {
		{"--verbose", true, 0x3E}, {"--changes", true, 0x10}, {"--exit", true, 0x40}, {"--no-fork", false, 0},
		{"-", false, 0},	   {"- ", false, 0},	      {nullptr, true, 0},     {nullptr, true, 0},
	};
	uint32_t seed = 12345;
	for (int n = 0; n < 500; n++) {
		std::vector<std::string> texts;
		uint32_t expected = 0;
		bool expect_no_fork = false;
		std::string trace;
		int length = 1 + static_cast<int>(seed % 6);
		for (int k = 0; k < length; k++) {
			seed = seed * 1103515245u + 12345u;
			const Option& o = pool[(seed >> 16) % (sizeof pool / sizeof pool[0])];
			uint32_t value = o.value;
			std::string text = o.arg ? o.arg : "";
			if (!o.arg) {
				value = seed * 2654435761u;
				char arg[32];
				std::snprintf(arg, sizeof arg, seed & 1 ? "-%x" : "-0X%X", value);
				text = arg;
			}
			texts.push_back(text);
			trace += text + " ";
			if (o.writes)
				expected = value;
			if (text == "--no-fork" || text == "--exit")
				expect_no_fork = true;
		}
		SCOPED_TRACE(trace);
		reset_state();
		std::vector<const char*> args;
		for (const std::string& t : texts)
			args.push_back(t.c_str());
		std::vector<char*> argv = make_argv(args);
		ASSERT_EQ(run(argv, true).status, -1);
		EXPECT_EQ(fake_shared_word.word, expected);
		EXPECT_EQ(no_fork, expect_no_fork);
	}
}

// A new word: nothing is parsed when there is no argument or the word fails; else a detached copy.
TEST_F(CommandLine, StartUpTable)
{
	struct Case {
		const char* what;
		std::vector<const char*> args;
		bool open_fails, map_fails;
		int status;
		const char* err;
		uint32_t word;
		int open_calls, map_calls;
		bool relaunched;
	};
	const Case cases[] = {
		{"no argument touches nothing", {}, false, false, 1, banner, 0xDEADBEEF, 0, 0, false},
		{"word cannot be opened", {"--exit", "10.0.0.1", "10.0.0.2"}, true, false, 1,
		 "Cannot determine whether LanxRoute is already running (error code 5)\n", 0xDEADBEEF, 1, 0, false},
		{"word cannot be mapped", {"--exit", "10.0.0.1", "10.0.0.2"}, false, true, 1,
		 "Cannot map shared memory (error code 8)\n", 0xDEADBEEF, 1, 1, false},
		{"gateways relaunch", {"--changes", "10.0.0.1", "10.0.0.2", "MyLink"}, false, false, 0, "", 0x10, 1, 1,
		 true},
		{"no gateways, no relaunch", {"--verbose", "@host/list"}, false, false, 1, banner, 0x3E, 1, 1, false},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		fake_shared_word.open_fails = c.open_fails;
		fake_shared_word.open_error = 5;
		fake_shared_word.map_fails = c.map_fails;
		fake_shared_word.map_error = 8;
		std::vector<char*> argv = make_argv(c.args);
		Outcome out = run(argv, false);
		EXPECT_EQ(out.status, c.status);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(fake_shared_word.word, c.word);
		EXPECT_EQ(fake_shared_word.open_calls, c.open_calls);
		EXPECT_EQ(fake_shared_word.map_calls, c.map_calls);
		if (!c.relaunched) {
			EXPECT_TRUE(fake_calls.empty());
			continue;
		}
		EXPECT_EQ(fake_call_texts(), std::vector<std::string>{"relaunch"});
		EXPECT_EQ(fake_process.relaunch_argc, static_cast<int>(argv.size()) - 1);
		EXPECT_EQ(fake_process.relaunch_argv, argv.data());
	}
}

TEST_F(CommandLine, CopyAlreadyRunning)
{
	struct Case {
		const char* what;
		std::vector<const char*> args;
		uint32_t word;
		const char* err;
	};
	const char running[] = "LanxRoute is already running.\n";
	const Case cases[] = {
		{"gateways clear every flag", {"10.0.0.1", "10.0.0.2"}, 0, running},
		{"--exit is silent", {"--exit"}, 0x40, ""},
		{"--verbose", {"--verbose"}, 0x3E, running},
		{"-ff carries the exit bit", {"-ff"}, 0xFF, ""},
		{"--no-fork still a command", {"--no-fork", "10.0.0.1", "10.0.0.2"}, 0, running},
		{"--exit then --verbose", {"--exit", "--verbose"}, 0x3E, running},
		{"a bad flag ends before the test", {"--verbose", "-zz"}, 0x3E, "Invalid numeric flag zz.\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		fake_shared_word.existed = true;
		fake_shared_word.word = 0x7F;	// the running copy's flags, an exit request among them
		std::vector<char*> argv = make_argv(c.args);
		Outcome out = run(argv, false);
		EXPECT_EQ(out.status, 1);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(fake_shared_word.word, c.word);
		EXPECT_TRUE(fake_calls.empty()) << "a command to a running copy starts nothing";
	}
}

// "--exit" with no copy running makes this process the background copy, which ends at once.
TEST_F(CommandLine, ExitWithoutRunningCopyRunsInThisProcess)
{
	char dir[] = "/tmp/lanx_cl_XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	char* previous = getcwd(nullptr, 0);
	ASSERT_EQ(chdir(dir), 0);
	std::vector<char*> argv = make_argv({"--exit"});
	Outcome out = run(argv, false);
	ASSERT_EQ(chdir(previous), 0);
	std::free(previous);
	std::remove((std::string(dir) + "/lanxroute.log").c_str());
	rmdir(dir);
	EXPECT_EQ(out.status, 0);
	EXPECT_EQ(out.err, "");
	EXPECT_TRUE(no_fork);
	for (const std::string& call : fake_call_texts())
		EXPECT_NE(call, "relaunch");
}

}  // namespace
