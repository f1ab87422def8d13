// The command line and the three roads, the background copy's main loop and one dial-up attempt,
// read off one timeline: the platform calls between the log's bytes as they reach the disk.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/settings.h"
#include "control/background.h"
#include "control/entry.h"
#include "dialup/dial.h"
#include "prefix/prefix_list.h"
#include "tests/fake/fake_process.h"
#include "tests/support.h"

namespace {

#define SEPARATOR "--------------\n\n"
#define CYCLE "Updating route table\nBad LANX gateway specified: (none)\nBad WORLD gateway specified: (none)\n" \
	      "Updated route table unsuccessfully\n"
const char usage[] = "LanxRoute version 1.1\n"
	"Usage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> <world gateway> [<ras connection name>]\n\n"
	"  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n"
	"  or   lanxroute  --exit asks the running copy of lanxroute to exit.\n";
const char running[] = "LanxRoute is already running.\n";
const char* const default_server = list_server;
const char* const default_path = list_path;

// Each process works in a scratch directory of its own, where the background copy opens its log.
char scratch[] = "/tmp/lanx_control_XXXXXX";
void leave_scratch() { std::remove("lanxroute.log"); rmdir(scratch); }
const bool in_scratch = mkdtemp(scratch) && chdir(scratch) == 0 && std::atexit(leave_scratch) == 0;

// A fresh process under script: no log, settings unset, the control word in the fake.
void fresh(const Fake& script = Fake{})
{
	ASSERT_TRUE(in_scratch);
	if (log_stream)
		std::fclose(log_stream);
	log_stream = nullptr;
	std::remove("lanxroute.log");
	fake = script;
	control_word = &fake.word;
	lanx_gateway_text = world_gateway_text = ras_entry_name = nullptr;
	no_fork = false;
	list_server = default_server;
	list_path = default_path;
	lanx_gateway = world_gateway = 0;
}

// The timeline ended by the rest of the log, flushed, and the value returned.
std::string finish(uintptr_t returned)
{
	log_flush();
	fake_note("returned " + std::to_string(returned));
	return fake.timeline;
}

// entry_point over the program name and args, with a running copy's flags (exit among them) in
// the word; what it wrote to standard error.
std::string invoke(std::vector<char*>& argv, const std::vector<const char*>& args)
{
	fake.word = 0x7F;
	argv = {const_cast<char*>("lanxroute")};
	for (const char* arg : args)
		argv.push_back(const_cast<char*>(arg));
	argv.push_back(nullptr);
	testing::internal::CaptureStderr();
	finish(static_cast<uintptr_t>(entry_point(static_cast<int>(argv.size()) - 1, argv.data())));
	return testing::internal::GetCapturedStderr();
}

TEST(CommandLine, FlagsGatewaysEntryNameAndCommandsToARunningCopy)
{
	struct Case {
		const char* what;
		std::vector<const char*> args;
		Fake script;
		const char* err;
		uint32_t word;
		int lanx, world, entry;	// the argument each setting points at, 0 for none
		const char* timeline;
	};
	const Fake later{.existed = true};
	const char* const ends_here = "> event\n" SEPARATOR "Exiting\n> returned 0\n";
	const Case cases[] = {
		{"two gateways", {"10.0.0.1", "10.0.0.2"}, later, running, 0, 1, 2, 0, "> returned 1\n"},
		{"gateways and entry name", {"1.0.0.1", "1.0.0.2", "Link"}, later, running, 0, 1, 2, 3, "> returned 1\n"},
		{"an option where the entry name goes", {"1.0.0.1", "1.0.0.2", "--changes"}, later, running, 0x10, 1, 2, 0, "> returned 1\n"},
		{"a list url where the entry name goes", {"1.0.0.1", "1.0.0.2", "@h/p"}, later, running, 0, 1, 2, 0, "> returned 1\n"},
		{"three addresses: the pair moves on by one", {"1.0.0.1", "1.0.0.2", "1.0.0.3"}, later, running, 0, 2, 3, 0, "> returned 1\n"},
		{"a later pair drops the entry name", {"1.0.0.1", "1.0.0.2", "L", "1.0.0.3", "1.0.0.4"}, later, running, 0, 4, 5, 0, "> returned 1\n"},
		{"one address is the usage", {"10.0.0.1"}, later, usage, 0, 0, 0, 0, "> returned 1\n"},
		{"0.0.0.0 is no lanx gateway", {"0.0.0.0", "1.0.0.2", "--changes"}, later, running, 0x10, 0, 0, 0, "> returned 1\n"},
		{"255.255.255.255 is no lanx gateway", {"255.255.255.255", "1.0.0.2", "-1"}, later, running, 1, 0, 0, 0, "> returned 1\n"},
		{"0.0.0.0 is no world gateway", {"1.0.0.1", "0.0.0.0", "-1"}, later, running, 1, 0, 0, 0, "> returned 1\n"},
		{"255.255.255.255 is no world gateway", {"1.0.0.1", "255.255.255.255", "L"}, later, usage, 0, 0, 0, 0, "> returned 1\n"},
		{"--exit to a running copy is silent", {"--exit"}, later, "", 0x40, 0, 0, 0, "> returned 1\n"},
		{"--verbose", {"--verbose"}, later, running, 0x3E, 0, 0, 0, "> returned 1\n"},
		{"the last option wins; --no-fork writes nothing", {"--verbose", "--changes", "--no-fork"}, later, running, 0x10, 0, 0, 0, "> returned 1\n"},
		{"a numeric flag with the exit bit is silent", {"-ff"}, later, "", 0xFF, 0, 0, 0, "> returned 1\n"},
		{"-exit is the number e", {"-exit"}, later, running, 0xE, 0, 0, 0, "> returned 1\n"},
		{"blanks before, junk after a number", {"-  12zz"}, later, running, 0x12, 0, 0, 0, "> returned 1\n"},
		{"an empty number keeps the word", {"--changes", "-"}, later, running, 0x10, 0, 0, 0, "> returned 1\n"},
		{"not a number: the loop stops there", {"--changes", "-verbose", "--exit"}, later, "Invalid numeric flag verbose.\n", 0x10, 0, 0, 0, "> returned 1\n"},
		{"no argument: usage, the word untouched", {}, {}, usage, 0x7F, 0, 0, 0, "> returned 1\n"},
		{"shared word cannot be opened", {"--exit"}, {.open_error = 5}, "Cannot determine whether LanxRoute is already running (error code 5)\n", 0x7F, 0, 0, 0, "> returned 1\n"},
		{"shared word cannot be mapped", {"--exit"}, {.map_error = 8}, "Cannot map shared memory (error code 8)\n", 0x7F, 0, 0, 0, "> returned 1\n"},
		{"gateways start a detached copy", {"--changes", "1.0.0.1", "1.0.0.2", "L"}, {}, "", 0x10, 2, 3, 4, "> relaunch 5 arguments\n> returned 0\n"},
		{"the detached copy cannot start", {"1.0.0.1", "1.0.0.2"}, {.relaunch_error = 5}, "Could not fork LanxRoute to background (error code 5)\n", 0, 1, 2, 0, "> relaunch 3 arguments\n> returned 1\n"},
		{"no gateways: usage, no copy", {"--verbose"}, {}, usage, 0x3E, 0, 0, 0, "> returned 1\n"},
		{"--exit with no copy running ends here at once", {"--exit"}, {}, "", 0x40, 0, 0, 0, ends_here},
		{"--no-fork runs the copy here", {"--no-fork", "-40"}, {}, "", 0x40, 0, 0, 0, ends_here},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(c.script);
		std::vector<char*> argv;
		EXPECT_EQ(invoke(argv, c.args), c.err);
		EXPECT_EQ(fake.timeline, c.timeline);
		EXPECT_EQ(fake.word, c.word);
		EXPECT_EQ(lanx_gateway_text, c.lanx ? argv[c.lanx] : nullptr);
		EXPECT_EQ(world_gateway_text, c.world ? argv[c.world] : nullptr);
		EXPECT_EQ(ras_entry_name, c.entry ? argv[c.entry] : nullptr);
	}
}

TEST(CommandLine, ListUrlGivesServerAndPath)
{
	struct Case { const char* what; const char* arg; const char* server; const char* path; const char* err; };
	const Case cases[] = {
		{"host and path", "@host/list.txt", "host", "/list.txt", running},
		{"http:// skipped", "@http://host/x/y.txt", "host", "/x/y.txt", running},
		{"only http:// in lower case", "@HTTP://host/x", "HTTP:", "//host/x", running},
		{"http:/ is a host", "@http:/x/y", "http:", "/x/y", running},
		{"empty host", "@/x", "", "/x", running},
		{"no path", "@http://host", default_server, default_path, "Invalid list url http://host.\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh({.existed = true});
		std::vector<char*> argv;
		EXPECT_EQ(invoke(argv, {c.arg}), c.err);
		EXPECT_STREQ(list_server, c.server);
		EXPECT_STREQ(list_path, c.path);
	}
}

TEST(BackgroundCopy, MainLoopTimeline)
{
	struct Case { const char* what; const char* entry; Fake script; const char* timeline; };
	const FakeDial busy{0, 678, 0, 0, 0, 0}, up5{0, 0, 5, 0, DIAL_STATE_CONNECTED, 0}, up6{0, 0, 6, 0, DIAL_STATE_CONNECTED, 0};
	const Case cases[] = {
		{"no entry name: never dials, a drop hangs up nothing", nullptr, {.drops = 1, .exit_on_pause = 3},
		 "> event\n" SEPARATOR CYCLE "> wait 5000\n" CYCLE "> wait 5000\n" CYCLE "> wait 5000\nExiting\n> returned 0\n"},
		{"failing dials redial every second; the link is hung up at exit", "Link", {.exit_on_pause = 3, .dials = {busy, busy, up5}},
		 "> event\n" SEPARATOR "Dialing Link\n> params Link\n> dial Link\nRasDial(^): 678\nRedialing Link\n> sleep 1000\n"
		 "> params Link\n> dial Link\nRasDial(^): 678\nRedialing Link\n> sleep 1000\n> params Link\n> dial Link\n"
		 "> status 5\n> notify 5\n" CYCLE "> wait 5000\n> hangup 5\nExiting\n> returned 0\n"},
		{"exit requested during the first dial", "Link", {.exit_on_dial = 1, .dials = {busy}},
		 "> event\n" SEPARATOR "Dialing Link\n> params Link\n> dial Link\nRasDial(^): 678\nExiting\n> returned 0\n"},
		{"exit requested during a redial's sleep", "Link", {.exit_on_pause = 1, .dials = {busy}},
		 "> event\n" SEPARATOR "Dialing Link\n> params Link\n> dial Link\nRasDial(^): 678\nRedialing Link\n> sleep 1000\n"
		 "> params Link\n> dial Link\nRasDial(^): 678\nExiting\n> returned 0\n"},
		{"a drop during a wait hangs up and redials before updating", "Link", {.drops = 2, .exit_on_pause = 3, .dials = {up5, up6}},
		 "> event\n" SEPARATOR "Dialing Link\n> params Link\n> dial Link\n> status 5\n> notify 5\n" CYCLE "> wait 5000\n"
		 CYCLE "> wait 5000\n> hangup 5\nDialing Link\n> params Link\n> dial Link\n> status 6\n> notify 6\n" CYCLE
		 "> wait 5000\n> hangup 6\nExiting\n> returned 0\n"},
		{"a drop in the wait that brings the exit hangs up once", "Link", {.drops = 1, .exit_on_pause = 1, .dials = {up5}},
		 "> event\n" SEPARATOR "Dialing Link\n> params Link\n> dial Link\n> status 5\n> notify 5\n" CYCLE
		 "> wait 5000\n> hangup 5\nExiting\n> returned 0\n"},
		{"the event cannot be created", "Link", {.event_error = 1450}, "> event\n" SEPARATOR "CreateEvent(^): 1450\n> returned 1\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(c.script);
		ras_entry_name = c.entry;
		EXPECT_EQ(finish(static_cast<uintptr_t>(background_copy())), c.timeline);
	}
}

// Even an exit at once converts the gateway pair and empties the list first, and dials nothing.
TEST(BackgroundCopy, ExitBeforeTheLoop)
{
	fresh({.word = CW_EXIT});
	ras_entry_name = "Link";
	lanx_gateway_text = "10.0.0.1";
	world_gateway_text = "10.1.0.1";
	append_node(0, 0, 0);
	EXPECT_EQ(finish(static_cast<uintptr_t>(background_copy())), "> event\n" SEPARATOR "Exiting\n> returned 0\n");
	EXPECT_EQ(lanx_gateway, net(10, 0, 0, 1));
	EXPECT_EQ(world_gateway, net(10, 1, 0, 1));
	EXPECT_EQ(prefix_list.next, &prefix_list);
}

TEST(BackgroundCopy, LogThatCannotBeOpened)
{
	fresh();
	ASSERT_EQ(mkdir("lanxroute.log", 0700), 0);
	testing::internal::CaptureStderr();
	std::string timeline = finish(static_cast<uintptr_t>(background_copy()));
	rmdir("lanxroute.log");
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open lanxroute.log (error code 21)\n");
	EXPECT_EQ(timeline, "> returned 1\n");
}

TEST(DialUp, EachFailingStepHasItsLineAndHangUp)
{
	struct Case { const char* what; FakeDial attempt; const char* timeline; };
	const Case cases[] = {
		{"connected", {0, 0, 7, 0, DIAL_STATE_CONNECTED, 0}, "> params Link\n> dial Link\n> status 7\n> returned 7\n"},
		{"entry not in the phonebook", {623, 0, 7, 0, DIAL_STATE_CONNECTED, 0}, "> params Link\nRasGetEntryDialParams(^): 623\n> returned 0\n"},
		{"dial fails, no connection", {0, 678, 0, 0, DIAL_STATE_CONNECTED, 0}, "> params Link\n> dial Link\nRasDial(^): 678\n> returned 0\n"},
		{"dial fails with a connection", {0, 678, 9, 0, DIAL_STATE_CONNECTED, 0}, "> params Link\n> dial Link\n> hangup 9\nRasDial(^): 678\n> returned 0\n"},
		{"state cannot be read", {0, 0, 7, 6, DIAL_STATE_CONNECTED, 0}, "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): 6\n> returned 0\n"},
		{"not yet connected", {0, 0, 7, 0, DIAL_STATE_CONNECTED + 1, 0}, "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): 0\n> returned 0\n"},
		{"connected with an error", {0, 0, 7, 0, DIAL_STATE_CONNECTED, 691}, "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): 0\n> returned 0\n"},
		{"codes are printed signed", {0xFFFFFFFF, 0, 7, 0, 0, 0}, "> params Link\nRasGetEntryDialParams(^): -1\n> returned 0\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh({.dials = {c.attempt}});
		start_test_log();
		EXPECT_EQ(finish(dial_connection("Link")), c.timeline);
	}
}

// Property: the phonebook sees the first 256 characters of the name, all of a shorter one.
TEST(DialUp, EntryNameIsCutTo256Characters)
{
	for (size_t length : {0, 1, 255, 256, 257, 300}) {
		SCOPED_TRACE(length);
		std::string name;
		for (size_t i = 0; i < length; i++)
			name += static_cast<char>('a' + i % 26);
		fresh({.dials = {{0, 0, 3, 0, DIAL_STATE_CONNECTED, 0}}});
		start_test_log();
		dial_connection(name.c_str());
		std::string cut = name.substr(0, 256);
		EXPECT_EQ(fake.timeline, "> params " + cut + "\n> dial " + cut + "\n> status 3\n");
	}
}

}  // namespace
