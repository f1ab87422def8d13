// The command line and the three roads, the background copy's main loop and one dial-up attempt,
// read off one timeline: the platform calls between the log's bytes as they reach the disk.
#include <sys/stat.h>

#include <cstring>

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
#define HUNG_UP "> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): "
const char usage[] = "LanxRoute version 1.1\nUsage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> "
		     "<world gateway> [<ras connection name>]\n\n"
		     "  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n  or   "
		     "lanxroute  --exit asks the running copy of lanxroute to exit.\n";
const char running[] = "LanxRoute is already running.\n";
const FakeDial busy = {.dial = 678, .handle = 0}, up5 = {.handle = 5}, up6 = {.handle = 6};

// A fresh process under script: settings unset, a test log, no log file, the control word in the fake.
void fresh_process(const Fake& script = Fake{})
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
	fake_note("returned " + std::to_string(returned));
	return fake.timeline;
}

// What a command line leaves; a row names what differs from a second copy's refusal.
struct Outcome {
	const char* err = running;
	uint32_t word = 0;
	int pair = 0, entry = 0; // the arguments the gateways (pair, pair + 1) and the entry name point at; 0: none
	std::string timeline = "> returned 1\n";
	const char* list = "list.lanx.example /zo-list.txt";
};

struct Line {
	const char* what;
	const char* args; // the words after the program's name
	Outcome want;
	Fake script;
};

const Fake later = {.existed = true, .word = 0x7F}; // a running copy's flags, its exit request among them

Line line(const char* what, const char* args, const Outcome& want, const Fake& script = later)
{
	return {what, args, want, script};
}

void expect_line(const Line& c)
{
	SCOPED_TRACE(c.what);
	fresh_process(c.script);
	char words[128] = "lanxroute ";
	std::vector<char*> argv;
	for (char* word = std::strtok(std::strcat(words, c.args), " "); word; word = std::strtok(nullptr, " "))
		argv.push_back(word);
	testing::internal::CaptureStderr();
	const int returned = entry_point(static_cast<int>(argv.size()), argv.data());
	EXPECT_EQ(finish(returned), c.want.timeline);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), c.want.err);
	EXPECT_EQ(fake.word, c.want.word);
	EXPECT_EQ(lanx_gateway_text, c.want.pair ? argv[c.want.pair] : nullptr);
	EXPECT_EQ(world_gateway_text, c.want.pair ? argv[c.want.pair + 1] : nullptr);
	EXPECT_EQ(ras_entry_name, c.want.entry ? argv[c.want.entry] : nullptr);
	EXPECT_EQ(std::string(list_server) + " " + list_path, c.want.list);
}

TEST(CommandLine, ToARunningCopy)
{
	const Line lines[] = {
		line("an option where the entry name goes", "1.0.0.1 1.0.0.2 --changes", {.word = 0x10, .pair = 1}),
		line("a list url where the entry name goes; http:// skipped", "1.0.0.1 1.0.0.2 @http://h/p",
		     {.pair = 1, .list = "h /p"}),
		line("a later pair drops the entry name; pairs move on by one",
		     "1.0.0.1 1.0.0.2 L 1.0.0.3 1.0.0.4 1.0.0.5", {.pair = 5}),
		line("0.0.0.0 and 255.255.255.255 are no gateway, on either side; a last address is the usage",
		     "255.255.255.255 1.0.0.2 0.0.0.0 1.0.0.4 255.255.255.255", {.err = usage}),
		line("--exit to a running copy is silent", "--exit", {.err = "", .word = 0x40}),
		line("the last option wins; --no-fork writes nothing", "--changes --no-fork --verbose", {.word = 0x3E}),
		line("a number after one dash: -exit is e, an empty one keeps the word", "-exit -", {.word = 0xE}),
		line("not a number: the loop stops there", "--changes -verbose --exit",
		     {.err = "Invalid numeric flag verbose.\n", .word = 0x10}),
		line("a list url: http:/ is a host", "@http:/x/y", {.list = "http: /x/y"}),
		line("a list url without a path", "@http://host", {.err = "Invalid list url http://host.\n"}),
	};
	for (const Line& c : lines)
		expect_line(c);
}

TEST(CommandLine, WithoutARunningCopy)
{
	const ScopedTempDir dir; // where a copy run here opens its log
	const std::string here = "> event\n" SEPARATOR;
	const Line lines[] = {
		line("no argument: the usage, the word untouched", "", {.err = usage, .word = 0x7F}, {.word = 0x7F}),
		line("the shared word cannot be opened", "--exit",
		     {.err = "Cannot determine whether LanxRoute is already running (error code 5)\n"},
		     {.open_error = 5}),
		line("the shared word cannot be mapped", "--exit", {.err = "Cannot map shared memory (error code 8)\n"},
		     {.map_error = 8}),
		line("gateways start a detached copy", "--changes 1.0.0.1 1.0.0.2 L",
		     {.err = "",
		      .word = 0x10,
		      .pair = 2,
		      .entry = 4,
		      .timeline = "> relaunch 5 arguments\n> returned 0\n"},
		     {}),
		line("the detached copy cannot start", "1.0.0.1 1.0.0.2",
		     {.err = "Could not fork LanxRoute to background (error code 5)\n",
		      .pair = 1,
		      .timeline = "> relaunch 3 arguments\n> returned 1\n"},
		     {.relaunch_error = 5}),
		line("no gateways: the usage, no copy", "--verbose", {.err = usage, .word = 0x3E}, {}),
		line("--no-fork runs the copy here; its event cannot be created", "--no-fork -40",
		     {.err = "", .word = 0x40, .timeline = here + "CreateEvent(^): 1450\n> returned 1\n"},
		     {.event_error = 1450}),
		line("--exit runs it here too; its signals cannot be taken", "--exit",
		     {.err = "", .word = 0x40, .timeline = here + "Cannot take signals: 22\n> returned 1\n"},
		     {.signal_error = 22}),
	};
	for (const Line& c : lines)
		expect_line(c);
}

// Every run creates the event first and ends on an exit request; the separator waits for the first flush.
// A run with dials scripted has the entry name "Link".
TEST(BackgroundCopy, MainLoop)
{
	const ScopedTempDir dir;
	struct Case {
		const char* what;
		Fake script;
		const char* timeline;
	};
	const Case cases[] = {
		{.what = "no entry name: never dials, a drop hangs up nothing; a log renamed away is reopened",
		 .script = {.drops = 2, .exit_on_pause = 3, .rotate_on_pause = 1},
		 .timeline = CYCLE "> wait 5000\n> rotate\n" CYCLE "> wait 5000\n" CYCLE "> wait 5000\n"},
		{.what = "failing dials redial every second, a log renamed away is reopened; the link is hung up at "
			 "exit",
		 .script = {.exit_on_pause = 3, .rotate_on_pause = 1, .dials = {busy, busy, up5}},
		 .timeline = "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY
			     "> rotate\nRedialing Link\n> sleep 1000\n" UP(5) CYCLE "> wait 5000\n> hangup 5\n"},
		{.what = "an exit requested during a redial's sleep",
		 .script = {.exit_on_pause = 1, .dials = {busy}},
		 .timeline = "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY},
		{.what = "a drop during a wait hangs up and redials before updating; one in the last wait too",
		 .script = {.drops = 12, .exit_on_pause = 3, .dials = {up5, up6}},
		 .timeline = "Dialing Link\n" UP(5) CYCLE "> wait 5000\n" CYCLE
							  "> wait 5000\n> hangup 5\nDialing Link\n" UP(6) CYCLE
		 "> wait 5000\n> hangup 6\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh_process(c.script);
		ras_entry_name = c.script.dials.empty() ? nullptr : "Link";
		lanx_gateway_text = "10.0.0.1"; // a gateway but no pair: every cycle ends early
		EXPECT_EQ(finish(background_copy()),
			  "> event\n" SEPARATOR + std::string(c.timeline) + "Exiting\n> returned 0\n");
	}
}

TEST(BackgroundCopy, AnExitAtOnceConvertsTheGatewaysAndEmptiesTheListFirst)
{
	const ScopedTempDir dir;
	fresh_process({.word = CW_EXIT});
	lanx_gateway_text = "10.0.0.1";
	world_gateway_text = "10.1.0.1";
	append_node(0, 0, 0);
	EXPECT_EQ(finish(background_copy()), "> event\n" SEPARATOR "Exiting\n> returned 0\n");
	EXPECT_EQ(lanx_gateway, net(10, 0, 0, 1));
	EXPECT_EQ(world_gateway, net(10, 1, 0, 1));
	EXPECT_EQ(prefix_list.next, &prefix_list);
}

TEST(BackgroundCopy, ALogThatCannotBeOpenedEndsItBeforeAll)
{
	const ScopedTempDir dir;
	fresh_process();
	ASSERT_EQ(mkdir("lanxroute.log", 0700), 0);
	testing::internal::CaptureStderr();
	EXPECT_EQ(finish(background_copy()), "> returned 1\n");
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open lanxroute.log (error code 21)\n");
}

// Each failing attempt's timeline after it reads the parameters of "Link".
TEST(DialUp, EachFailingStepHasItsLineAndHangUp)
{
	struct Case {
		const char* what;
		FakeDial attempt;
		const char* timeline;
	};
	const Case cases[] = {
		{.what = "not in the phonebook",
		 .attempt = {.params = 623},
		 .timeline = "RasGetEntryDialParams(^): 623\n"},
		{.what = "the dial fails, no connection",
		 .attempt = busy,
		 .timeline = "> dial Link\nRasDial(^): 678\n"},
		{.what = "the dial fails with a connection",
		 .attempt = {.dial = 678},
		 .timeline = "> dial Link\n> hangup 7\nRasDial(^): 678\n"},
		{.what = "no state; codes print signed", .attempt = {.status = 0xFFFFFFFA}, .timeline = HUNG_UP "-6\n"},
		{.what = "not yet connected",
		 .attempt = {.state = DIAL_STATE_CONNECTED + 1},
		 .timeline = HUNG_UP "0\n"},
		{.what = "connected with an error", .attempt = {.error = 691}, .timeline = HUNG_UP "0\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh_process({.dials = {c.attempt}});
		EXPECT_EQ(finish(dial_connection("Link")),
			  "> params Link\n" + std::string(c.timeline) + "> returned 0\n");
	}
}

TEST(DialUp, ConnectedUnderTheNameCutTo256Characters)
{
	const std::string name(256, 'n');
	fresh_process({.dials = {{.handle = 3}}});
	EXPECT_EQ(finish(dial_connection((name + "X").c_str())),
		  "> params " + name + "\n> dial " + name + "\n> status 3\n> returned 3\n");
}
