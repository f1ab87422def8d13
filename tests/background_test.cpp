#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/settings.h"
#include "control/background.h"
#include "control/command_line.h"
#include "common/control_word.h"
#include "common/log.h"
#include "platform/net.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "tests/fake/fake_dialup.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/fake_process.h"
#include "tests/fake/fake_routing.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

const std::string separator = "--------------\n\n";

// Each test runs the background copy in a scratch directory of its own, where it opens its log.
class Background : public testing::Test {
protected:
	fs::path home;
	fs::path dir;
	uint32_t word = 0;

	void SetUp() override
	{
		home = fs::current_path();
		dir = fs::temp_directory_path() /
		    ("lanx_background_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
			"_" + testing::UnitTest::GetInstance()->current_test_info()->name());
		fs::remove_all(dir);
		fs::create_directories(dir);
		fs::current_path(dir);
		close_log();
		word = 0;
		control_word = &word;
		lanx_gateway_text = "10.0.0.1";
		world_gateway_text = "10.1.0.1";
		ras_entry_name = nullptr;
		fake_process_reset();
		fake_dialup_reset();
		fake_http_reset();
		fake_routing_reset();
	}

	void TearDown() override
	{
		close_log();
		reset_prefix_list();
		fs::current_path(home);
		fs::remove_all(dir);
	}

	// A table row's fresh start in a fresh directory.
	void next_case()
	{
		TearDown();
		SetUp();
	}

	static void close_log()
	{
		if (log_stream != nullptr)
			std::fclose(log_stream);
		log_stream = nullptr;
	}

	static std::string log_text()
	{
		if (log_stream != nullptr)
			std::fflush(log_stream);
		std::ifstream in("lanxroute.log", std::ios::binary);
		std::stringstream s;
		s << in.rdbuf();
		return s.str();
	}

	// The log lines that begin with one of starts.
	static Lines lines_starting(std::initializer_list<const char*> starts)
	{
		Lines lines;
		std::istringstream in(log_text());
		for (std::string line; std::getline(in, line);)
			for (const char* start : starts)
				if (line.rfind(start, 0) == 0)
					lines.push_back(line);
		return lines;
	}

	// The loop's own lines, without those of the update cycles between them.
	static Lines loop_lines()
	{
		return lines_starting({"Dialing", "Redialing", "Updat", "Exiting", "Ras", "-", "Create"});
	}

	// The offset just past the first occurrence of line in the log.
	static long offset_after(const std::string& line)
	{
		size_t at = log_text().find(line);
		return at == std::string::npos ? -1 : static_cast<long>(at + line.size());
	}

	// The first call of that text.
	static const FakeCall* first_call(const std::string& what)
	{
		for (const FakeCall& call : fake_calls)
			if (call.what == what)
				return &call;
		return nullptr;
	}

	// The dial-up and process calls, without the event's creation.
	static Lines calls()
	{
		Lines texts = fake_call_texts();
		if (!texts.empty() && texts.front() == "event")
			texts.erase(texts.begin());
		return texts;
	}
};

// A signalled wait without a connection hangs nothing up.
TEST_F(Background, WithoutEntryNameNeverDials)
{
	fake_process.waits = {true};
	fake_process.exit_on_pause = 3;
	EXPECT_EQ(background_copy(), 0);
	EXPECT_EQ(calls(), (Lines{"wait 5000", "wait 5000", "wait 5000"}));
	EXPECT_EQ(loop_lines(), (Lines{"--------------", "Updating route table",
				    "Updated route table unsuccessfully", "Updating route table",
				    "Updated route table unsuccessfully", "Updating route table",
				    "Updated route table unsuccessfully", "Exiting"}));
}

TEST_F(Background, FailingDialsRedialEverySecond)
{
	ras_entry_name = "Link";
	fake_dial_attempts = {fake_dial_fails(678, 0), fake_dial_fails(678, 0), fake_dial_connects(5)};
	fake_process.exit_on_pause = 3;
	EXPECT_EQ(background_copy(), 0);
	EXPECT_EQ(calls(), (Lines{"params Link", "dial Link", "sleep 1000", "params Link", "dial Link",
				 "sleep 1000", "params Link", "dial Link", "status 5", "notify 5",
				 "wait 5000", "hangup 5"}));
	EXPECT_EQ(loop_lines(), (Lines{"--------------", "Dialing Link", "RasDial(^): 678",
				    "Redialing Link", "RasDial(^): 678", "Redialing Link",
				    "Updating route table", "Updated route table unsuccessfully",
				    "Exiting"}));
	// The held connection is hung up before "Exiting" is written.
	EXPECT_EQ(fake_calls.back().log_written,
	    offset_after("Exiting\n") - static_cast<long>(sizeof "Exiting\n" - 1));
}

TEST_F(Background, ExitRequestDuringRedialling)
{
	struct Case {
		const char* description;
		int exit_on_pause;
		int exit_on_dial;
		Lines calls;
		Lines lines;
	};
	const Case cases[] = {
		{"set during the first dial: seen before the first redial", 0, 1, {"params Link", "dial Link"},
		 {"--------------", "Dialing Link", "RasDial(^): 678", "Exiting"}},
		{"set during a sleep: seen after that sleep's dial", 1, 0,
		 {"params Link", "dial Link", "sleep 1000", "params Link", "dial Link"},
		 {"--------------", "Dialing Link", "RasDial(^): 678", "Redialing Link", "RasDial(^): 678",
		  "Exiting"}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.description);
		next_case();
		ras_entry_name = "Link";
		fake_dial_attempts = {fake_dial_fails(678, 0)};
		fake_process.exit_on_pause = c.exit_on_pause;
		fake_process.exit_on_dial = c.exit_on_dial;
		EXPECT_EQ(background_copy(), 0);
		EXPECT_EQ(calls(), c.calls);
		EXPECT_EQ(loop_lines(), c.lines);
	}
}

TEST_F(Background, DropDuringWaitHangsUpAndRedialsBeforeUpdating)
{
	ras_entry_name = "Link";
	fake_dial_attempts = {fake_dial_connects(5), fake_dial_connects(6)};
	fake_process.waits = {false, true, false};
	fake_process.exit_on_pause = 3;
	EXPECT_EQ(background_copy(), 0);
	EXPECT_EQ(calls(), (Lines{"params Link", "dial Link", "status 5", "notify 5", "wait 5000",
				 "wait 5000", "hangup 5", "params Link", "dial Link", "status 6",
				 "notify 6", "wait 5000", "hangup 6"}));
	EXPECT_EQ(loop_lines(), (Lines{"--------------", "Dialing Link", "Updating route table",
				    "Updated route table unsuccessfully", "Updating route table",
				    "Updated route table unsuccessfully", "Dialing Link",
				    "Updating route table", "Updated route table unsuccessfully",
				    "Exiting"}));
}

TEST_F(Background, LogIsFlushedAfterTheLoopLinesOnly)
{
	ras_entry_name = "Link";
	fake_dial_attempts = {fake_dial_fails(678, 0), fake_dial_connects(5)};
	fake_process.exit_on_pause = 2;
	EXPECT_EQ(background_copy(), 0);
	// What had reached the file at each call: the separator waits for the first flush, a dial's
	// line for the next loop line, "Exiting" for the end of the process.
	const struct {
		const char* call;
		long on_disk;
	} expected[] = {
		{"event", 0},
		{"params Link", offset_after("Dialing Link\n")},
		{"sleep 1000", offset_after("Redialing Link\n")},
		{"status 5", offset_after("Redialing Link\n")},
		{"wait 5000", offset_after("Updated route table unsuccessfully\n")},
		{"hangup 5", offset_after("Updated route table unsuccessfully\n")},
	};
	for (const auto& e : expected) {
		SCOPED_TRACE(e.call);
		const FakeCall* call = first_call(e.call);
		ASSERT_NE(call, nullptr);
		EXPECT_EQ(call->log_bytes, e.on_disk);
	}
	// The cycle's own lines came between "Updating" and its result, unflushed until then.
	EXPECT_EQ(first_call("wait 5000")->log_bytes, first_call("wait 5000")->log_written);
	EXPECT_EQ(fake_calls.back().log_bytes + static_cast<long>(sizeof "Exiting\n" - 1),
	    static_cast<long>(log_text().size()));
}

// Even an exit at once converts the gateways and empties the list first.
TEST_F(Background, ExitRequestedBeforeStart)
{
	append_node(0, 0, 0);
	word = CW_EXIT;
	ras_entry_name = "Link";
	EXPECT_EQ(background_copy(), 0);
	EXPECT_EQ(fake_call_texts(), (Lines{"event"}));
	EXPECT_EQ(log_text(), separator + "Exiting\n");
	EXPECT_EQ(lanx_gateway, net_inet_addr("10.0.0.1"));
	EXPECT_EQ(world_gateway, net_inet_addr("10.1.0.1"));
	EXPECT_EQ(prefix_list.next, &prefix_list);
}

TEST_F(Background, LogThatCannotBeOpened)
{
	fs::create_directory("lanxroute.log");
	testing::internal::CaptureStderr();
	EXPECT_EQ(background_copy(), 1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot open lanxroute.log (error code 21)\n");
	EXPECT_TRUE(fake_calls.empty());
	EXPECT_EQ(log_stream, nullptr);
}

TEST_F(Background, EventThatCannotBeCreated)
{
	fake_process.event_error = 1450;
	EXPECT_EQ(background_copy(), 1);
	EXPECT_EQ(fake_call_texts(), (Lines{"event"}));
	EXPECT_EQ(log_text(), separator + "CreateEvent(^): 1450\n");
}

TEST_F(Background, CyclesReachTheTableOnlyWithAGatewayPair)
{
	struct Case {
		const char* description;
		const char* lanx;
		const char* world;
		bool changes;
		Lines lines;
	};
	const Case cases[] = {
		{"gateway pair: the cycle runs", "10.0.0.1", "10.1.0.1", true,
		 {"Updating route table", "Updated route table successfully"}},
		{"no pair: fails untouched", nullptr, nullptr, false,
		 {"Updating route table", "Bad LANX gateway specified: (none)",
		  "Bad WORLD gateway specified: (none)", "Updated route table unsuccessfully"}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.description);
		next_case();
		fake_http_serve("192.0.2.0/24\n");
		fake_routing.addresses = {{net_inet_addr("10.0.0.2"), 2, net_inet_addr("255.255.255.0")},
					  {net_inet_addr("10.1.0.2"), 3, net_inet_addr("255.255.255.0")}};
		lanx_gateway_text = c.lanx;
		world_gateway_text = c.world;
		lanx_gateway = 0;
		world_gateway = 0;
		fake_process.exit_on_pause = 1;
		EXPECT_EQ(background_copy(), 0);
		EXPECT_EQ(!fake_routing.calls.empty(), c.changes);
		EXPECT_EQ(lines_starting({"Updat", "Bad"}), c.lines);
		EXPECT_EQ(fake_routing.blocks_outstanding, 0);
	}
}

TEST(Relaunch, ReportsTheFailureOnStandardError)
{
	char arg0[] = "lanxroute", arg1[] = "10.0.0.1", arg2[] = "10.1.0.1";
	char* argv[] = {arg0, arg1, arg2, nullptr};
	struct Case {
		const char* description;
		int error;
		int status;
		const char* stderr_text;
	};
	const Case cases[] = {
		{"child created", 0, 0, ""},
		{"child refused", 5, 1, "Could not fork LanxRoute to background (error code 5)\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.description);
		fake_process_reset();
		fake_process.relaunch_error = c.error;
		testing::internal::CaptureStderr();
		EXPECT_EQ(relaunch_detached(3, argv), c.status);
		EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderr_text);
		EXPECT_EQ(fake_process.relaunch_argc, 3);
		EXPECT_EQ(fake_process.relaunch_argv, argv);
	}
}

}  // namespace
