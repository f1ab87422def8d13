// The command line and the three roads, the background copy's main loop and one dial-up attempt,
// read off one timeline: the platform calls between the log's bytes as they reach the disk.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "common/settings.h"
#include "control/background.h"
#include "control/entry.h"
#include "dialup/dial.h"
#include "tests/fake/fake_process.h"
#include "tests/support.h"

#define HERE "> event\n--------------\n\n"
#define BUSY "> params Link\n> dial Link\nRasDial(^): 678\n"
#define UP(h) "> params Link\n> dial Link\n> status " #h "\n> notify " #h "\n"
#define CYCLE                                                                                                          \
	"Updating route table\nBad LANX gateway specified: (none)\nBad WORLD gateway specified: (none)\nUpdated "      \
	"route table unsuccessfully\n> wait 5000\n"
#define HUNG_UP "> dial Link\n> status 7\n> hangup 7\nRasGetConnectStatus(^): "
const char usage[] =
	"LanxRoute version 1.1\nUsage: lanxroute [--verbose|--changes] [@<list url>] <lanx gateway> "
	"<world gateway> [<ras connection name>]\n\n"
	"  or   lanxroute  --verbose|--changes changes the flags of the running copy of lanxroute\n  or   "
	"lanxroute  --exit asks the running copy of lanxroute to exit.\n  or   lanxroute  --status shows what "
	"the running copy of lanxroute is doing.\n";
const char running[] = "LanxRoute is already running.\n";
const char NOT_YET[] = "LanxRoute is running; its first cycle has not ended yet.\n";
const FakeDial busy = {.dial = 678, .handle = 0}, up1 = {.handle = 1}, up6 = {.handle = 6};
const Fake later = {.existed = true, .word = 0x7F}; // a running copy's flags, its exit request among them

// A fresh process under script: settings unset, a test log, no log file, the control word in the fake.
void fresh_process(const Fake& script)
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
	const char* out = "";
};

// One row: entry_point over the words of args after the program's name, in a fresh process under script.
void expect_line(const char* what, const char* args, const Outcome& want, const Fake& script = later)
{
	SCOPED_TRACE(what);
	fresh_process(script);
	char words[128] = "lanxroute ";
	std::vector<char*> argv;
	for (char* word = std::strtok(std::strcat(words, args), " "); word; word = std::strtok(nullptr, " "))
		argv.push_back(word);
	testing::internal::CaptureStderr();
	testing::internal::CaptureStdout();
	EXPECT_EQ(finish(entry_point(static_cast<int>(argv.size()), argv.data())), want.timeline);
	EXPECT_EQ(testing::internal::GetCapturedStdout(), want.out);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), want.err);
	EXPECT_EQ(fake.word, want.word);
	EXPECT_EQ(lanx_gateway_text, want.pair ? argv[want.pair] : nullptr);
	EXPECT_EQ(world_gateway_text, want.pair ? argv[want.pair + 1] : nullptr);
	EXPECT_EQ(ras_entry_name, want.entry ? argv[want.entry] : nullptr);
	EXPECT_EQ(std::string(list_server) + " " + list_path, want.list);
}

TEST(CommandLine, ToARunningCopy)
{
	expect_line("an option where the entry name goes", "1.0.0.1 1.0.0.2 --changes", {.word = 0x10, .pair = 1});
	expect_line("a list url where the entry name goes; http:// skipped", "1.0.0.1 1.0.0.2 @http://h/p",
		    {.pair = 1, .list = "h /p"});
	expect_line("0.0.0.0 and 255.255.255.255 are no gateway, on either side; a last address is the usage",
		    "255.255.255.255 1.0.0.2 0.0.0.0 1.0.0.4 255.255.255.255", {.err = usage});
	expect_line("not a number: the loop stops there", "--changes -verbose --exit",
		    {.err = "Invalid numeric flag verbose.\n", .word = 0x10});
	expect_line("a list url: http:/ is a host", "@http:/x/y", {.list = "http: /x/y"});
	expect_line("a list url: so is https:/", "@https:/x/y", {.list = "https: /x/y"});
	expect_line("a list url: https:// stays with the host", "@https://h/p", {.list = "https://h /p"});
	expect_line("a list url without a path", "@http://host", {.err = "Invalid list url http://host.\n"});
	const Outcome asked = {.err = "", .word = 0x7F, .timeline = "> returned 0\n", .out = usage};
	expect_line("-h is --help", "-h 1.0.0.1 1.0.0.2", asked);
	expect_line("--version: the version line", "--version",
		    {.err = "", .word = 0x7F, .timeline = "> returned 0\n", .out = "LanxRoute version 1.1\n"});
	Fake published = later;
	published.published = "s";
	expect_line("--status prints what the copy published", "--status",
		    {.err = "", .word = 0x7F, .timeline = "> returned 0\n", .out = "s"}, published);
	expect_line("--status before the copy's first cycle ended", "--status",
		    {.err = "", .word = 0x7F, .timeline = "> returned 0\n", .out = NOT_YET});
}

TEST(CommandLine, WithoutARunningCopy)
{
	const ScopedTempDir dir; // where a copy run here opens its log
	expect_line("no argument: the usage, the word untouched", "", {.err = usage, .word = 0x7F}, {.word = 0x7F});
	expect_line("the shared word cannot be opened", "--exit",
		    {.err = "Cannot determine whether LanxRoute is already running (error code 5)\n"},
		    {.open_error = 5});
	expect_line("the shared word cannot be mapped", "--exit", {.err = "Cannot map shared memory (error code 8)\n"},
		    {.map_error = 8});
	expect_line(
		"gateways start a detached copy", "--changes 1.0.0.1 1.0.0.2 L",
		{.err = "", .word = 0x10, .pair = 2, .entry = 4, .timeline = "> relaunch 5 arguments\n> returned 0\n"},
		{});
	expect_line("the detached copy cannot start", "1.0.0.1 1.0.0.2",
		    {.err = "Could not fork LanxRoute to background (error code 5)\n",
		     .pair = 1,
		     .timeline = "> relaunch 3 arguments\n> returned 1\n"},
		    {.relaunch_error = 5});
	expect_line("no gateways: the usage, no copy", "--verbose", {.err = usage, .word = 0x3E}, {});
	expect_line("--status with no copy", "--status",
		    {.err = "", .timeline = "> returned 3\n", .out = "LanxRoute is not running.\n"}, {});
	expect_line("--no-fork runs the copy here; its event cannot be created", "--no-fork -40",
		    {.err = "", .word = 0x40, .timeline = HERE "CreateEvent(^): 1450\n> returned 1\n"},
		    {.event_error = 1450});
	expect_line("--exit runs it here too; its signals cannot be taken", "--exit",
		    {.err = "", .word = 0x40, .timeline = HERE "Cannot take signals: 22\n> returned 1\n"},
		    {.signal_error = 22});
	// A folder with something in it where the log goes outlives the fresh process's removal.
	std::remove("lanxroute.log");
	ASSERT_TRUE(std::filesystem::create_directories("lanxroute.log/x"));
	expect_line("a copy whose log cannot be opened ends before all", "--no-fork",
		    {.err = "Cannot open lanxroute.log (error code 21)\n"}, {});
}

// One row: the copy with a gateway but no pair, so that every cycle ends early, and with the entry
// name "Link" when dials are scripted; it creates the event first and ends on an exit request.
void expect_main_loop(const char* what, const Fake& script, const std::string& timeline)
{
	SCOPED_TRACE(what);
	fresh_process(script);
	ras_entry_name = script.dials.empty() ? nullptr : "Link";
	lanx_gateway_text = "10.0.0.1";
	EXPECT_EQ(finish(background_copy()), HERE + timeline + "Exiting\n> returned 0\n");
	// Until a cycle ends the status says so; then it tells that no list ever came (no world gateway)
	// and how the link stands.
	std::string status = script.dials.empty() ? "none\n" : "Link up\n";
	status = timeline.find("Updating") == std::string::npos ? NOT_YET
								: ", last 200 at never\ndial-up link: " + status;
	EXPECT_NE(fake.published.find(status), std::string::npos) << fake.published;
}

TEST(BackgroundCopy, MainLoop)
{
	const ScopedTempDir dir;
	expect_main_loop("no entry name: never dials, a drop hangs up nothing; a log renamed away is reopened by name",
			 {.drops = 2, .exit_on_pause = 3, .rotate_on_pause = 1, .silent_rotate = true},
			 CYCLE "> rotate\n" CYCLE CYCLE);
	expect_main_loop("failing dials redial every second, a renamed log is reopened; the link is hung up at exit",
			 {.exit_on_pause = 3, .rotate_on_pause = 1, .dials = {busy, busy, up1}},
			 "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY
			 "> rotate\nRedialing Link\n> sleep 1000\n" UP(1) CYCLE "> hangup 1\n");
	expect_main_loop("an exit requested during a redial's sleep", {.exit_on_pause = 1, .dials = {busy}},
			 "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" BUSY);
	expect_main_loop("a drop during a wait hangs up and redials before updating; one in the last wait too",
			 {.drops = 12, .exit_on_pause = 3, .dials = {up1, up6}},
			 "Dialing Link\n" UP(1) CYCLE CYCLE "> hangup 1\nDialing Link\n" UP(6) CYCLE "> hangup 6\n");
	// Both gateways are converted before the first cycle, even when an exit is asked at once.
	fresh_process({.word = CW_EXIT});
	lanx_gateway_text = "10.0.0.1";
	world_gateway_text = "10.1.0.1";
	EXPECT_EQ(finish(background_copy()), HERE "Exiting\n> returned 0\n");
	EXPECT_EQ(std::pair(lanx_gateway, world_gateway), std::pair(net(10, 0, 0, 1), net(10, 1, 0, 1)));
	// A service manager that asks for them hears the copy alive while it redials, ready after its first
	// cycle, that cycle's status, and alive again.
	// Its socket lives in the test's own folder, so that runs side by side do not meet.
	const std::string where = (std::filesystem::current_path() / "notify").string();
	const int manager = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
	sockaddr_un name = {.sun_family = AF_UNIX, .sun_path = {}};
	where.copy(name.sun_path, sizeof name.sun_path - 1);
	ASSERT_EQ(bind(manager, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
	setenv("NOTIFY_SOCKET", where.c_str(), 1);
	setenv("WATCHDOG_USEC", "1", 1);
	expect_main_loop("notices to a service manager", {.exit_on_pause = 2, .dials = {busy, up1}},
			 "Dialing Link\n" BUSY "Redialing Link\n> sleep 1000\n" UP(1) CYCLE "> hangup 1\n");
	unsetenv("NOTIFY_SOCKET");
	unsetenv("WATCHDOG_USEC");
	std::string heard;
	char notice[256];
	for (ssize_t n; (n = recv(manager, notice, sizeof notice, 0)) > 0;)
		heard += std::string(notice, static_cast<size_t>(n)) + "\n";
	close(manager);
	EXPECT_EQ(heard,
		  "WATCHDOG=1\nREADY=1\nSTATUS=0 routes of ours, cycle unsuccessful, 0 of 0 route changes failed, "
		  "list 0\nWATCHDOG=1\n");
}

// One row: a failing attempt's timeline after it reads the parameters of "Link".
void expect_dial(const char* what, const FakeDial& attempt, const std::string& timeline)
{
	SCOPED_TRACE(what);
	fresh_process({.dials = {attempt}});
	EXPECT_EQ(finish(dial_connection("Link")), "> params Link\n" + timeline + "> returned 0\n");
}

TEST(DialUp, EachFailingStepHasItsLineAndHangUp)
{
	expect_dial("not in the phonebook", {.params = 623}, "RasGetEntryDialParams(^): 623\n");
	expect_dial("the dial fails with a connection", {.dial = 678}, "> dial Link\n> hangup 7\nRasDial(^): 678\n");
	expect_dial("no state; codes print signed", {.status = 0xFFFFFFFA}, HUNG_UP "-6\n");
	expect_dial("connected with an error", {.error = 691}, HUNG_UP "0\n");
}

TEST(DialUp, ConnectedUnderTheNameCutTo256Characters)
{
	const std::string name(256, 'n');
	fresh_process({.dials = {{.handle = 3}}});
	EXPECT_EQ(finish(dial_connection((name + "X").c_str())),
		  "> params " + name + "\n> dial " + name + "\n> status 3\n> returned 3\n");
}
