// The argument loop and the start-up decision, over the fake shared word and process layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "control/command_line.h"
#include "control/control_word.h"
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

// The loop alone, after the word was cleared as start-up does.
Outcome parse(std::vector<char*>& argv)
{
	fake_shared_word.word = 0;
	testing::internal::CaptureStderr();
	int status = parse_arguments(static_cast<int>(argv.size()) - 1, argv.data());
	return {status, testing::internal::GetCapturedStderr()};
}

Outcome enter(std::vector<char*>& argv)
{
	testing::internal::CaptureStderr();
	int status = entry_point(static_cast<int>(argv.size()) - 1, argv.data());
	return {status, testing::internal::GetCapturedStderr()};
}

std::string text_or_none(const char* s)
{
	return s ? std::string(s) : std::string("(none)");
}

class CommandLine : public testing::Test {
protected:
	void SetUp() override { reset_state(); }
};

struct LoopCase {
	const char* what;
	std::vector<const char*> args;
	int status;		// -1: the loop ran to its end
	const char* lanx;
	const char* world;
	const char* entry;
	uint32_t word;
	bool fork_off;
	const char* err;
};

TEST_F(CommandLine, ArgumentLoopTable)
{
	const LoopCase cases[] = {
		// The worked examples.
		{"two gateways", {"10.0.0.1", "10.0.0.2"}, -1, "10.0.0.1", "10.0.0.2", nullptr, 0, false, ""},
		{"gateways and entry", {"10.0.0.1", "10.0.0.2", "MyLink"}, -1, "10.0.0.1", "10.0.0.2", "MyLink", 0,
		 false, ""},
		{"gateways then --changes", {"10.0.0.1", "10.0.0.2", "--changes"}, -1, "10.0.0.1", "10.0.0.2", nullptr,
		 0x10, false, ""},
		{"entry then --verbose", {"10.0.0.1", "10.0.0.2", "MyLink", "--verbose"}, -1, "10.0.0.1", "10.0.0.2",
		 "MyLink", 0x3E, false, ""},
		{"three addresses: the pair moves on", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, -1, "10.0.0.2", "10.0.0.3",
		 nullptr, 0, false, ""},
		{"three addresses and entry", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "MyLink"}, -1, "10.0.0.2",
		 "10.0.0.3", "MyLink", 0, false, ""},
		{"one address", {"10.0.0.1"}, 1, nullptr, nullptr, nullptr, 0, false, banner},
		{"bad partner, last positional", {"10.0.0.1", "bogus", "MyLink"}, 1, nullptr, nullptr, nullptr, 0, false,
		 banner},
		{"bad partner, option last", {"10.0.0.1", "bogus", "--verbose"}, -1, nullptr, nullptr, nullptr, 0x3E,
		 false, ""},

		// Gateways refused and accepted.
		{"0.0.0.0 is no gateway", {"0.0.0.0", "10.0.0.2", "MyLink"}, 1, nullptr, nullptr, nullptr, 0, false,
		 banner},
		{"broadcast is no gateway", {"10.0.0.1", "255.255.255.255", "MyLink"}, 1, nullptr, nullptr, nullptr, 0,
		 false, banner},
		{"0.0.0.0 as world, option last", {"10.0.0.1", "0.0.0.0", "-1"}, -1, nullptr, nullptr, nullptr, 1,
		 false, ""},
		{"short inet_addr forms", {"1", "2"}, -1, "1", "2", nullptr, 0, false, ""},
		{"entry position holds an option", {"10.0.0.1", "10.0.0.2", "-1"}, -1, "10.0.0.1", "10.0.0.2", nullptr,
		 1, false, ""},
		{"entry position holds a list url", {"10.0.0.1", "10.0.0.2", "@h/p"}, -1, "10.0.0.1", "10.0.0.2",
		 nullptr, 0, false, ""},
		{"a later pair replaces the entry", {"10.0.0.1", "10.0.0.2", "MyLink", "10.0.0.3", "10.0.0.4"}, -1,
		 "10.0.0.3", "10.0.0.4", nullptr, 0, false, ""},
		{"words after the entry", {"10.0.0.1", "10.0.0.2", "MyLink", "extra"}, -1, "10.0.0.1", "10.0.0.2",
		 "MyLink", 0, false, ""},
		{"options before the gateways", {"--changes", "10.0.0.1", "10.0.0.2"}, -1, "10.0.0.1", "10.0.0.2",
		 nullptr, 0x10, false, ""},
		{"options alone", {"--verbose"}, -1, nullptr, nullptr, nullptr, 0x3E, false, ""},

		// Named options: whole-text comparison, whole-word stores, last writer wins.
		{"--exit", {"--exit"}, -1, nullptr, nullptr, nullptr, 0x40, true, ""},
		{"--no-fork keeps the word", {"--changes", "--no-fork"}, -1, nullptr, nullptr, nullptr, 0x10, true, ""},
		{"--verbose then -1", {"--verbose", "-1"}, -1, nullptr, nullptr, nullptr, 0x01, false, ""},
		{"--exit then --verbose", {"--exit", "--verbose"}, -1, nullptr, nullptr, nullptr, 0x3E, true, ""},
		{"-ff sets the exit bit too", {"-ff"}, -1, nullptr, nullptr, nullptr, 0xFF, false, ""},

		// Numeric options: the %x conversion.
		{"-exit reads the e", {"-exit"}, -1, nullptr, nullptr, nullptr, 0x0E, false, ""},
		{"-changes reads the c", {"-changes"}, -1, nullptr, nullptr, nullptr, 0x0C, false, ""},
		{"-verbose converts nothing", {"-verbose"}, 1, nullptr, nullptr, nullptr, 0, false,
		 "Invalid numeric flag verbose.\n"},
		{"-no-fork converts nothing", {"-no-fork"}, 1, nullptr, nullptr, nullptr, 0, false,
		 "Invalid numeric flag no-fork.\n"},
		{"0x prefix", {"-0x20"}, -1, nullptr, nullptr, nullptr, 0x20, false, ""},
		{"leading blanks", {"-  7"}, -1, nullptr, nullptr, nullptr, 0x07, false, ""},
		{"trailing junk ignored", {"-12zz"}, -1, nullptr, nullptr, nullptr, 0x12, false, ""},
		{"--1 is a negative number", {"--1"}, -1, nullptr, nullptr, nullptr, 0xFFFFFFFF, false, ""},
		{"--exitx is a negative number", {"--exitx"}, -1, nullptr, nullptr, nullptr, 0xFFFFFFF2, false, ""},
		{"named options are case-sensitive", {"--Verbose"}, 1, nullptr, nullptr, nullptr, 0, false,
		 "Invalid numeric flag -Verbose.\n"},
		{"a bare -- is a sign alone", {"--"}, 1, nullptr, nullptr, nullptr, 0, false, "Invalid numeric flag -.\n"},
		{"lone - keeps the word", {"--changes", "-"}, -1, nullptr, nullptr, nullptr, 0x10, false, ""},
		{"blank numeric keeps the word", {"--changes", "- "}, -1, nullptr, nullptr, nullptr, 0x10, false, ""},

		// Writes before a failing argument stay.
		{"word kept before a bad flag", {"--changes", "-zz", "--verbose"}, 1, nullptr, nullptr, nullptr, 0x10,
		 false, "Invalid numeric flag zz.\n"},
		{"word kept before a bad url", {"--verbose", "@nohost"}, 1, nullptr, nullptr, nullptr, 0x3E, false,
		 "Invalid list url nohost.\n"},
		{"word kept before the banner", {"--exit", "10.0.0.1"}, 1, nullptr, nullptr, nullptr, 0x40, true,
		 banner},
		{"pair kept before a bad flag", {"10.0.0.1", "10.0.0.2", "-q"}, 1, "10.0.0.1", "10.0.0.2", nullptr, 0,
		 false, "Invalid numeric flag q.\n"},
	};
	for (const LoopCase& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		std::vector<char*> argv = make_argv(c.args);
		Outcome out = parse(argv);
		EXPECT_EQ(out.status, c.status);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(text_or_none(lanx_gateway_text), text_or_none(c.lanx));
		EXPECT_EQ(text_or_none(world_gateway_text), text_or_none(c.world));
		EXPECT_EQ(text_or_none(ras_entry_name), text_or_none(c.entry));
		EXPECT_EQ(fake_shared_word.word, c.word);
		EXPECT_EQ(no_fork, c.fork_off);
	}
}

TEST_F(CommandLine, SettingsPointIntoTheArgumentVector)
{
	std::vector<char*> argv = make_argv({"10.0.0.1", "10.0.0.2", "MyLink"});
	ASSERT_EQ(parse(argv).status, -1);
	EXPECT_EQ(lanx_gateway_text, argv[1]);
	EXPECT_EQ(world_gateway_text, argv[2]);
	EXPECT_EQ(ras_entry_name, argv[3]);
}

struct UrlCase {
	const char* what;
	const char* arg;
	int status;
	const char* server;
	size_t path_offset;	// where list_path starts inside the argument
	const char* err;
};

TEST_F(CommandLine, ListUrlTable)
{
	const UrlCase cases[] = {
		{"host and path", "@host/list.txt", -1, "host", 5, ""},
		{"http prefix skipped", "@http://host/x/y.txt", -1, "host", 12, ""},
		{"prefix test is case-sensitive", "@HTTP://host/x", -1, "HTTP:", 6, ""},
		{"prefix needs both slashes", "@http:/x/y", -1, "http:", 6, ""},
		{"empty server", "@/x", -1, "", 1, ""},
		{"empty server after the prefix", "@http:///p", -1, "", 8, ""},
		{"no slash after the prefix", "@http://host", 1, default_server, 0, "Invalid list url http://host.\n"},
		{"lone @", "@", 1, default_server, 0, "Invalid list url .\n"},
	};
	for (const UrlCase& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		std::vector<char*> argv = make_argv({c.arg});
		Outcome out = parse(argv);
		EXPECT_EQ(out.status, c.status);
		EXPECT_EQ(out.err, c.err);
		EXPECT_STREQ(list_server, c.server);
		if (c.status == -1) {
			// The path is the argument itself, the server a copy of its own.
			EXPECT_EQ(list_path, argv[1] + c.path_offset);
			EXPECT_NE(list_server, static_cast<const char*>(argv[1]) + 1);
		} else {
			EXPECT_EQ(list_path, default_path);
		}
	}
}

TEST_F(CommandLine, SecondListUrlReplacesWithoutReleasing)
{
	std::vector<char*> one = make_argv({"@first/a"});
	std::vector<char*> two = make_argv({"--changes", "@second/b"});
	ASSERT_EQ(parse(one).status, -1);
	const char* first = list_server;
	ASSERT_EQ(parse(two).status, -1);
	EXPECT_STREQ(list_server, "second");
	EXPECT_STREQ(list_path, "/b");
	// Still readable: the earlier copy lives for the process.
	EXPECT_STREQ(first, "first");
	EXPECT_NE(first, list_server);
	std::free(const_cast<char*>(first));
}

// Any 32-bit value written as a numeric option arrives whole, in either case of hex digits.
TEST_F(CommandLine, NumericOptionStoresTheWholeValue)
{
	uint32_t v = 0x9E3779B9;
	for (int n = 0; n < 500; n++) {
		v = v * 1664525u + 1013904223u;
		for (const char* format : {"-%x", "-0X%X"}) {
			char arg[32];
			std::snprintf(arg, sizeof arg, format, v);
			SCOPED_TRACE(arg);
			reset_state();
			std::vector<char*> argv = make_argv({arg});
			ASSERT_EQ(parse(argv).status, -1);
			EXPECT_EQ(fake_shared_word.word, v);
			EXPECT_FALSE(no_fork);
		}
	}
}

// Options never combine: after any sequence the word holds what the last writing option stored.
TEST_F(CommandLine, LastWritingOptionWins)
{
	struct Option {
		const char* arg;
		bool writes;
		uint32_t value;
	};
	const Option pool[] = {
		{"--verbose", true, 0x3E}, {"--changes", true, 0x10}, {"--exit", true, 0x40}, {"-1", true, 0x01},
		{"-7f", true, 0x7F},	   {"--no-fork", false, 0},   {"-", false, 0},	      {"- ", false, 0},
	};
	uint32_t seed = 12345;
	for (int n = 0; n < 300; n++) {
		std::vector<const char*> args;
		uint32_t expected = 0;
		bool expect_no_fork = false;
		std::string trace;
		int length = 1 + static_cast<int>(seed % 6);
		for (int k = 0; k < length; k++) {
			seed = seed * 1103515245u + 12345u;
			const Option& o = pool[(seed >> 16) % (sizeof pool / sizeof pool[0])];
			args.push_back(o.arg);
			trace += std::string(o.arg) + " ";
			if (o.writes)
				expected = o.value;
			if (std::string(o.arg) == "--no-fork" || std::string(o.arg) == "--exit")
				expect_no_fork = true;
		}
		SCOPED_TRACE(trace);
		reset_state();
		std::vector<char*> argv = make_argv(args);
		ASSERT_EQ(parse(argv).status, -1);
		EXPECT_EQ(fake_shared_word.word, expected);
		EXPECT_EQ(no_fork, expect_no_fork);
	}
}

TEST_F(CommandLine, NoArgumentShowsTheBannerAndTouchesNothing)
{
	std::vector<char*> argv = make_argv({});
	Outcome out = enter(argv);
	EXPECT_EQ(out.status, 1);
	EXPECT_EQ(out.err, banner);
	EXPECT_EQ(fake_shared_word.open_calls, 0);
	EXPECT_EQ(fake_shared_word.map_calls, 0);
	EXPECT_EQ(fake_shared_word.word, 0xDEADBEEFu);
	EXPECT_TRUE(fake_calls.empty());
}

TEST_F(CommandLine, StartUpFailures)
{
	struct Case {
		const char* what;
		bool open_fails;
		bool map_fails;
		int map_calls;
		const char* err;
	};
	const Case cases[] = {
		{"word cannot be opened", true, false, 0,
		 "Cannot determine whether LanxRoute is already running (error code 5)\n"},
		{"word cannot be mapped", false, true, 1, "Cannot map shared memory (error code 8)\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		fake_shared_word.open_fails = c.open_fails;
		fake_shared_word.open_error = 5;
		fake_shared_word.map_fails = c.map_fails;
		fake_shared_word.map_error = 8;
		std::vector<char*> argv = make_argv({"--exit", "10.0.0.1", "10.0.0.2"});
		Outcome out = enter(argv);
		EXPECT_EQ(out.status, 1);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(fake_shared_word.open_calls, 1);
		EXPECT_EQ(fake_shared_word.map_calls, c.map_calls);
		// Nothing parsed, nothing stored, no road taken.
		EXPECT_EQ(fake_shared_word.word, 0xDEADBEEFu);
		EXPECT_FALSE(no_fork);
		EXPECT_TRUE(fake_calls.empty());
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
		{"--changes", {"--changes"}, 0x10, running},
		{"-ff carries the exit bit", {"-ff"}, 0xFF, ""},
		{"--no-fork still a command", {"--no-fork", "10.0.0.1", "10.0.0.2"}, 0, running},
		{"--exit then --verbose", {"--exit", "--verbose"}, 0x3E, running},
		{"a bad flag ends before the test", {"--verbose", "-zz"}, 0x3E, "Invalid numeric flag zz.\n"},
		{"the banner ends before the test", {"--changes", "10.0.0.1"}, 0x10, banner},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		reset_state();
		fake_shared_word.existed = true;
		fake_shared_word.word = 0x7F;	// the running copy's flags, an exit request among them
		std::vector<char*> argv = make_argv(c.args);
		Outcome out = enter(argv);
		EXPECT_EQ(out.status, 1);
		EXPECT_EQ(out.err, c.err);
		EXPECT_EQ(fake_shared_word.word, c.word);
		EXPECT_TRUE(fake_calls.empty()) << "a command to a running copy starts nothing";
	}
}

TEST_F(CommandLine, NewWordWithGatewaysRelaunches)
{
	std::vector<char*> argv = make_argv({"--changes", "10.0.0.1", "10.0.0.2", "MyLink"});
	fake_shared_word.word = 0x7F;
	Outcome out = enter(argv);
	EXPECT_EQ(out.status, 0);
	EXPECT_EQ(out.err, "");
	EXPECT_EQ(fake_shared_word.word, 0x10u);
	EXPECT_EQ(control_word, &fake_shared_word.word);
	ASSERT_EQ(fake_call_texts(), std::vector<std::string>{"relaunch"});
	EXPECT_EQ(fake_process.relaunch_argc, 5);
	EXPECT_EQ(fake_process.relaunch_argv, argv.data());
}

TEST_F(CommandLine, NewWordWithoutGatewaysIsRefused)
{
	std::vector<char*> argv = make_argv({"--verbose", "@host/list"});
	Outcome out = enter(argv);
	EXPECT_EQ(out.status, 1);
	EXPECT_EQ(out.err, banner);
	EXPECT_EQ(fake_shared_word.word, 0x3Eu);
	EXPECT_TRUE(fake_calls.empty());
}

// "--exit" with no copy running makes this process the background copy, which ends at once.
TEST_F(CommandLine, ExitWithoutRunningCopyRunsInThisProcess)
{
	char dir[] = "/tmp/lanx_cl_XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	char* previous = getcwd(nullptr, 0);
	ASSERT_EQ(chdir(dir), 0);
	std::vector<char*> argv = make_argv({"--exit"});
	Outcome out = enter(argv);
	ASSERT_EQ(chdir(previous), 0);
	std::free(previous);
	std::string log = std::string(dir) + "/lanxroute.log";
	std::remove(log.c_str());
	rmdir(dir);
	EXPECT_EQ(out.status, 0);
	EXPECT_EQ(out.err, "");
	EXPECT_TRUE(no_fork);
	for (const std::string& call : fake_call_texts())
		EXPECT_NE(call, "relaunch");
}

}  // namespace
