// The command line and the three roads, the background copy's main loop and one dial-up attempt,
// read off one timeline: the platform calls between the log's bytes as they reach the disk.
#include <sys/stat.h>
#include <unistd.h>

#include "common/settings.h"
#include "control/background.h"
#include "control/entry.h"
#include "dialup/dial.h"
#include "prefix/prefix_list.h"
#include "tests/fake/fake_process.h"
#include "tests/support.h"

#define SEPARATOR "--------------\n\n"
#define BUSY "> params Link\n> dial Link\nRasDial(^): 678\n"
#define UP(h) "> params Link\n> dial Link\n> status " #h "\n> notify " #h "\n"
#define CYCLE                                                                                                          \
	"Updating route table\nBad LANX gateway specified: (none)\nBad WORLD gateway specified: (none)\nUpdated "      \
	"route table unsuccessfully\n"
const char usage[] = "LanxRoute version 1.1\nUsage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> "
		     "<world gateway> [<ras connection name>]\n\n"
		     "  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n  or   "
		     "lanxroute  --exit asks the running copy of lanxroute to exit.\n";
const char running[] = "LanxRoute is already running.\n";

// Each process works in a scratch directory of its own (if it can), where the background copy opens its log.
char scratch[] = "/tmp/lanx_control_XXXXXX";
void leave_scratch()
{
	std::remove("lanxroute.log");
	rmdir(scratch);
}
const bool in_scratch = mkdtemp(scratch) && chdir(scratch) == 0 && std::atexit(leave_scratch) == 0;

// A fresh process under script: settings unset, a test log, no log file, the control word in the fake.
void fresh(const Fake& script = Fake{})
{
	start_test_log();
	std::remove("lanxroute.log");
	fake = script;
	control_word = &fake.word;
	lanx_gateway_text = world_gateway_text = ras_entry_name = nullptr;
	no_fork = false;
	list_server = "list.lanx.example";
	list_path = "/zo-list.txt";
}

// The timeline ended by the rest of the log, flushed, and the value returned.
std::string finish(uintptr_t returned)
{
	log_flush();
	return fake_note("returned " + std::to_string(returned));
}

TEST(CommandLine, FlagsGatewaysEntryNameListUrlAndCommandsToARunningCopy)
{
	// lanx, world, entry: the argument each setting points at, 0 for none; the list's server and path unchanged unless given.
	struct Case {
		const char* what;
		std::vector<const char*> args;
		Fake script;
		const char* err;
		uint32_t word;
		int lanx, world, entry;
		const char* timeline = "> returned 1\n";
		const char* list = "list.lanx.example /zo-list.txt";
	};
	const Fake later{.existed = true, .word = 0x7F}; // a running copy's flags, its exit request among them
	const Case cases[] = {
		{"two gateways", {"10.0.0.1", "10.0.0.2"}, later, running, 0, 1, 2, 0},
		{"gateways and entry name", {"1.0.0.1", "1.0.0.2", "Link"}, later, running, 0, 1, 2, 3},
		{"an option where the entry name goes",
		 {"1.0.0.1", "1.0.0.2", "--changes"},
		 later,
		 running,
		 0x10,
		 1,
		 2,
		 0},
		{"a list url where the entry name goes",
		 {"1.0.0.1", "1.0.0.2", "@h/p"},
		 later,
		 running,
		 0,
		 1,
		 2,
		 0,
		 "> returned 1\n",
		 "h /p"},
		{"a later pair drops the entry name; pairs move on by one",
		 {"1.0.0.1", "1.0.0.2", "L", "1.0.0.3", "1.0.0.4", "1.0.0.5"},
		 later,
		 running,
		 0,
		 5,
		 6,
		 0},
		{"one address is the usage", {"10.0.0.1"}, later, usage, 0, 0, 0, 0},
		{"0.0.0.0 is no lanx gateway", {"0.0.0.0", "1.0.0.2", "--changes"}, later, running, 0x10, 0, 0, 0},
		{"255.255.255.255 is no lanx gateway",
		 {"255.255.255.255", "1.0.0.2", "-1"},
		 later,
		 running,
		 1,
		 0,
		 0,
		 0},
		{"0.0.0.0 is no world gateway", {"1.0.0.1", "0.0.0.0", "-1"}, later, running, 1, 0, 0, 0},
		{"255.255.255.255 is no world gateway", {"1.0.0.1", "255.255.255.255", "L"}, later, usage, 0, 0, 0, 0},
		{"--exit to a running copy is silent", {"--exit"}, later, "", 0x40, 0, 0, 0},
		{"the last option wins; --no-fork writes nothing",
		 {"--changes", "--no-fork", "--verbose"},
		 later,
		 running,
		 0x3E,
		 0,
		 0,
		 0},
		{"-exit is the number e", {"-exit"}, later, running, 0xE, 0, 0, 0},
		{"an empty number keeps the word", {"--changes", "-"}, later, running, 0x10, 0, 0, 0},
		{"not a number: the loop stops there",
		 {"--changes", "-verbose", "--exit"},
		 later,
		 "Invalid numeric flag verbose.\n",
		 0x10,
		 0,
		 0,
		 0},
		{"list url: http:// skipped",
		 {"@http://host/x/y.txt"},
		 later,
		 running,
		 0,
		 0,
		 0,
		 0,
		 "> returned 1\n",
		 "host /x/y.txt"},
		{"list url: http:/ is a host",
		 {"@http:/x/y"},
		 later,
		 running,
		 0,
		 0,
		 0,
		 0,
		 "> returned 1\n",
		 "http: /x/y"},
		{"list url without a path", {"@http://host"}, later, "Invalid list url http://host.\n", 0, 0, 0, 0},
		{"no argument: usage, the word untouched", {}, {.word = 0x7F}, usage, 0x7F, 0, 0, 0},
		{"shared word cannot be opened",
		 {"--exit"},
		 {.open_error = 5, .word = 0x7F},
		 "Cannot determine whether LanxRoute is already running (error code 5)\n",
		 0x7F,
		 0,
		 0,
		 0},
		{"shared word cannot be mapped",
		 {"--exit"},
		 {.map_error = 8, .word = 0x7F},
		 "Cannot map shared memory (error code 8)\n",
		 0x7F,
		 0,
		 0,
		 0},
		{"gateways start a detached copy",
		 {"--changes", "1.0.0.1", "1.0.0.2", "L"},
		 {},
		 "",
		 0x10,
		 2,
		 3,
		 4,
		 "> relaunch 5 arguments\n> returned 0\n"},
		{"the detached copy cannot start",
		 {"1.0.0.1", "1.0.0.2"},
		 {.relaunch_error = 5},
		 "Could not fork LanxRoute to background (error code 5)\n",
		 0,
		 1,
		 2,
		 0,
		 "> relaunch 3 arguments\n> returned 1\n"},
		{"no gateways: usage, no copy", {"--verbose"}, {}, usage, 0x3E, 0, 0, 0},
		{"--exit with no copy running ends here at once",
		 {"--exit"},
		 {},
		 "",
		 0x40,
		 0,
		 0,
		 0,
		 "> event\n" SEPARATOR "Exiting\n> returned 0\n"},
		{"--no-fork runs the copy here",
		 {"--no-fork", "-40"},
		 {},
		 "",
		 0x40,
		 0,
		 0,
		 0,
		 "> event\n" SEPARATOR "Exiting\n> returned 0\n"},
		{"the copy's event cannot be created",
		 {"--exit"},
		 {.event_error = 1450},
		 "",
		 0x40,
		 0,
		 0,
		 0,
		 "> event\n" SEPARATOR "CreateEvent(^): 1450\n> returned 1\n"},
		{"the copy's signals cannot be taken",
		 {"--exit"},
		 {.signal_error = 22},
		 "",
		 0x40,
		 0,
		 0,
		 0,
		 "> event\n" SEPARATOR "Cannot take signals: 22\n> returned 1\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(c.script);
		char* argv[8] = {const_cast<char*>("lanxroute")};
		std::copy(c.args.begin(), c.args.end(), const_cast<const char**>(argv) + 1);
		testing::internal::CaptureStderr();
		EXPECT_EQ(finish(static_cast<uintptr_t>(entry_point(static_cast<int>(c.args.size()) + 1, argv))),
			  c.timeline);
		EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
		EXPECT_EQ(fake.word, c.word);
		EXPECT_EQ(lanx_gateway_text, c.lanx ? argv[c.lanx] : nullptr);
		EXPECT_EQ(world_gateway_text, c.world ? argv[c.world] : nullptr);
		EXPECT_EQ(ras_entry_name, c.entry ? argv[c.entry] : nullptr);
		EXPECT_EQ(std::string(list_server) + " " + list_path, c.list);
	}
}

TEST(BackgroundCopy, StartAndMainLoopTimeline)
{
	struct Case {
		const char* what;
		const char* entry;
		Fake script;
		const char* timeline;
	};
	const FakeDial busy{0, 678, 0, 0, 0, 0}, up5{0, 0, 5, 0, DIAL_STATE_CONNECTED, 0},
		up6{0, 0, 6, 0, DIAL_STATE_CONNECTED, 0};
	// Every run creates the event first and ends on an exit request; the separator waits for the first flush.
	const Case cases[] = {
		{"no entry name: never dials, a drop hangs up nothing; a log renamed away is reopened",
		 nullptr,
		 {.drops = 2, .exit_on_pause = 3, .rotate_on_pause = 1},
		 CYCLE "> wait 5000\n> rotate\n" CYCLE "> wait 5000\n" CYCLE "> wait 5000\n"},
		{"failing dials redial every second, a log renamed away is reopened; the link is hung up at exit",
		 "Link",
		 {.exit_on_pause = 3, .rotate_on_pause = 1, .dials = {busy, busy, up5}},
		 "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY
		 "> rotate\nRedialing Link\n> sleep 1000\n" UP(5) CYCLE "> wait 5000\n> hangup 5\n"},
		{"exit requested during the first dial",
		 "Link",
		 {.exit_on_dial = 1, .dials = {busy}},
		 "Dialing Link\n" BUSY},
		{"exit requested during a redial's sleep",
		 "Link",
		 {.exit_on_pause = 1, .dials = {busy}},
		 "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY},
		{"a drop during a wait hangs up and redials before updating; one in the last wait too",
		 "Link",
		 {.drops = 12, .exit_on_pause = 3, .dials = {up5, up6}},
		 "Dialing Link\n" UP(5) CYCLE "> wait 5000\n" CYCLE "> wait 5000\n> hangup 5\nDialing Link\n" UP(6)
			 CYCLE "> wait 5000\n> hangup 6\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(c.script);
		ras_entry_name = c.entry,
		lanx_gateway_text = "10.0.0.1"; // a gateway but no pair: every cycle ends early
		EXPECT_EQ(finish(static_cast<uintptr_t>(background_copy())),
			  "> event\n" SEPARATOR + std::string(c.timeline) + "Exiting\n> returned 0\n");
	}

	// Even an exit at once converts the gateway pair and empties the list first.
	fresh({.word = CW_EXIT});
	lanx_gateway_text = "10.0.0.1", world_gateway_text = "10.1.0.1";
	append_node(0, 0, 0);
	EXPECT_EQ(finish(static_cast<uintptr_t>(background_copy())), "> event\n" SEPARATOR "Exiting\n> returned 0\n");
	EXPECT_EQ(lanx_gateway, net(10, 0, 0, 1));
	EXPECT_EQ(world_gateway, net(10, 1, 0, 1));
	EXPECT_EQ(prefix_list.next, &prefix_list);
	// A log that cannot be opened ends the copy before all that.
	fresh();
	ASSERT_EQ(mkdir("lanxroute.log", 0700), 0);
	testing::internal::CaptureStderr();
	EXPECT_EQ(finish(static_cast<uintptr_t>(background_copy())), "> returned 1\n");
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open lanxroute.log (error code 21)\n");
	rmdir("lanxroute.log");
}

TEST(DialUp, EachFailingStepHasItsLineAndHangUpAndTheNameIsCutTo256Characters)
{
	struct Case {
		const char* what;
		FakeDial attempt;
		std::string timeline;
		std::string name = "Link";
	};
	const std::string n256(256, 'n');
	const Case cases[] = {
		{"connected",
		 {0, 0, 7, 0, DIAL_STATE_CONNECTED, 0},
		 "> params Link\n> dial Link\n> status 7\n> returned 7\n"},
		{"entry not in the phonebook",
		 {623, 0, 7, 0, DIAL_STATE_CONNECTED, 0},
		 "> params Link\nRasGetEntryDialParams(^): 623\n> returned 0\n"},
		{"dial fails, no connection",
		 {0, 678, 0, 0, DIAL_STATE_CONNECTED, 0},
		 "> params Link\n> dial Link\nRasDial(^): 678\n> returned 0\n"},
		{"dial fails with a connection",
		 {0, 678, 9, 0, DIAL_STATE_CONNECTED, 0},
		 "> params Link\n> dial Link\n> hangup 9\nRasDial(^): 678\n> returned 0\n"},
		{"state cannot be read; codes print signed",
		 {0, 0, 7, 0xFFFFFFFA, DIAL_STATE_CONNECTED, 0},
		 "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): -6\n> returned 0\n"},
		{"not yet connected",
		 {0, 0, 7, 0, DIAL_STATE_CONNECTED + 1, 0},
		 "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): 0\n> returned 0\n"},
		{"connected with an error",
		 {0, 0, 7, 0, DIAL_STATE_CONNECTED, 691},
		 "> params Link\n> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): 0\n> returned 0\n"},
		{"a longer name is cut to 256 characters",
		 {0, 0, 3, 0, DIAL_STATE_CONNECTED, 0},
		 "> params " + n256 + "\n> dial " + n256 + "\n> status 3\n> returned 3\n",
		 n256 + "X"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh({.dials = {c.attempt}});
		EXPECT_EQ(finish(dial_connection(c.name.c_str())), c.timeline);
	}
}
