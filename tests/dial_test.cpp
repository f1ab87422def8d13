#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/log.h"
#include "dialup/dial.h"
#include "tests/fake/fake_dialup.h"
#include "tests/fake/fake_process.h"
#include "tests/fake/test_log.h"

namespace {

void start(const std::vector<FakeDialAttempt>& attempts)
{
	fake_process_reset();
	fake_dialup_reset();
	fake_dial_attempts = attempts;
	test_log_start();
}

using Calls = std::vector<std::string>;

struct DialCase {
	const char* description;
	FakeDialAttempt attempt;
	DialConnection returned;
	Calls calls;
	const char* log;
};

TEST(DialConnection, EachFailingStepHasItsLineAndHangUp)
{
	const DialCase cases[] = {
		{"connected", {0, 0, 7, 0, 0x2000, 0}, 7, {"params Link", "dial Link", "status 7"}, ""},
		{"entry not in the phonebook", {623, 0, 7, 0, 0x2000, 0}, 0, {"params Link"},
		 "RasGetEntryDialParams(^): 623\n"},
		{"dial fails without a handle", {0, 678, 0, 0, 0x2000, 0}, 0, {"params Link", "dial Link"},
		 "RasDial(^): 678\n"},
		{"dial fails with a handle", {0, 678, 9, 0, 0x2000, 0}, 0,
		 {"params Link", "dial Link", "hangup 9"}, "RasDial(^): 678\n"},
		{"status query fails", {0, 0, 7, 6, 0x2000, 0}, 0,
		 {"params Link", "dial Link", "status 7", "hangup 7"}, "RasGetConnectStatus(^): 6\n"},
		{"not yet connected", {0, 0, 7, 0, 0x2001, 0}, 0,
		 {"params Link", "dial Link", "status 7", "hangup 7"}, "RasGetConnectStatus(^): 0\n"},
		{"connected state with an error", {0, 0, 7, 0, 0x2000, 691}, 0,
		 {"params Link", "dial Link", "status 7", "hangup 7"}, "RasGetConnectStatus(^): 0\n"},
		{"state off by a bit", {0, 0, 7, 0, 0x2000 | 1, 0}, 0,
		 {"params Link", "dial Link", "status 7", "hangup 7"}, "RasGetConnectStatus(^): 0\n"},
		{"negative code printed signed", {0, 0xFFFFFFFF, 0, 0, 0x2000, 0}, 0,
		 {"params Link", "dial Link"}, "RasDial(^): -1\n"},
	};
	for (const DialCase& c : cases) {
		SCOPED_TRACE(c.description);
		start({c.attempt});
		EXPECT_EQ(dial_connection("Link"), c.returned);
		EXPECT_EQ(fake_call_texts(), c.calls);
		EXPECT_EQ(test_log_text(), c.log);
	}
}

TEST(DialConnection, HangsUpBeforeWritingTheLine)
{
	const FakeDialAttempt attempts[] = {
		{0, 678, 9, 0, 0x2000, 0},
		{0, 0, 9, 5, 0x2000, 0},
		{0, 0, 9, 0, 0, 0},
	};
	for (const FakeDialAttempt& a : attempts) {
		SCOPED_TRACE(a.dial_result ? "dial" : "status");
		start({a});
		// Unbuffered: every write reaches the file at once.
		std::setvbuf(log_stream, nullptr, _IONBF, 0);
		EXPECT_EQ(dial_connection("Link"), 0u);
		ASSERT_EQ(fake_calls.back().what, "hangup 9");
		EXPECT_EQ(fake_calls.back().log_bytes, 0);
		EXPECT_NE(test_log_text(), "");
	}
}

TEST(DialConnection, WritesWithoutFlushing)
{
	start({{0, 678, 9, 0, 0x2000, 0}});
	std::setvbuf(log_stream, nullptr, _IOFBF, 1 << 16);
	dial_connection("Link");
	fake_record("after");
	EXPECT_EQ(fake_calls.back().log_bytes, 0);
	EXPECT_EQ(test_log_text(), "RasDial(^): 678\n");
}

TEST(DialConnection, EntryNameIsCutTo256Characters)
{
	for (size_t length = 0; length <= 300; length++) {
		SCOPED_TRACE(length);
		std::string name;
		for (size_t i = 0; i < length; i++)
			name += static_cast<char>('a' + i % 26);
		start({fake_dial_connects(3)});
		dial_connection(name.c_str());
		std::string dialled = name.substr(0, 256);
		EXPECT_EQ(fake_call_texts(), (Calls{"params " + dialled, "dial " + dialled, "status 3"}));
	}
}

TEST(DialConnection, KeepsNoStateBetweenCalls)
{
	start({{623, 0, 0, 0, 0, 0}, fake_dial_connects(4)});
	EXPECT_EQ(dial_connection("Link"), 0u);
	EXPECT_EQ(dial_connection("Link"), 4u);
	EXPECT_EQ(test_log_text(), "RasGetEntryDialParams(^): 623\n");
}

}  // namespace
