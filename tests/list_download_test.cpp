#include "common/settings.h"
#include "prefix/list_download.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/control_word.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/test_log.h"

namespace {

constexpr uint32_t FIRST = 0x20000;

uint32_t word;

const char* const HEAD =
    "Loading subnet list from http://list.lanx.example/zo-list.txt\n"
    "  handles hi=1, hc=2, hr=3\n";

struct Fetched {
	bool none;
	std::string text;
	size_t capacity;	// what the allocator holds for the text
};

Fetched fetch()
{
	char* text = fetch_list_text();
	if (text == nullptr)
		return {true, "", 0};
	Fetched f{false, text, malloc_usable_size(text)};
	std::free(text);
	return f;
}

std::string bytes_of(size_t n, char seed)
{
	std::string s(n, '\0');
	for (size_t i = 0; i < n; i++)
		s[i] = static_cast<char>('a' + (seed + i * 7) % 26);
	return s;
}

class ListDownload : public testing::Test {
protected:
	void SetUp() override
	{
		word = 0;
		control_word = &word;
		list_server = "list.lanx.example";
		list_path = "/zo-list.txt";
		fake_http_reset();
		test_log_start();
	}
};

TEST_F(ListDownload, WholeBodyWithItsCallsAndLines)
{
	fake_http_serve("10.0.0.0/8\n");
	Fetched f = fetch();
	ASSERT_FALSE(f.none);
	EXPECT_EQ(f.text, "10.0.0.0/8\n");
	EXPECT_EQ(test_log_text(), std::string(HEAD) + "  len=b\n");
	std::vector<std::string> calls = {"session", "connect 1 list.lanx.example",
	    "request 2 /zo-list.txt", "send 3", "query 3", "read 3 b", "query 3", "close 3",
	    "close 2", "close 1"};
	EXPECT_EQ(fake_http_calls, calls);
}

TEST_F(ListDownload, ServerAndPathAsSet)
{
	list_server = "127.0.0.1";
	list_path = "/a%20b/../list?x=1";
	fake_http_serve("1.2.3.4\n");
	fetch();
	EXPECT_EQ(fake_http_calls[1], "connect 1 127.0.0.1");
	EXPECT_EQ(fake_http_calls[2], "request 2 /a%20b/../list?x=1");
	const std::string first = "Loading subnet list from http://127.0.0.1/a%20b/../list?x=1\n";
	EXPECT_EQ(test_log_text().substr(0, first.size()), first);
}

TEST_F(ListDownload, GrowthByDoubling)
{
	struct Case {
		const char* what;
		std::vector<uint32_t> pieces;
		size_t capacity;
	};
	const Case cases[] = {
	    {"one byte under the first capacity", {FIRST - 1}, FIRST},
	    {"exactly the first capacity", {FIRST}, 2 * FIRST},
	    {"two and a half capacities at once", {FIRST * 5 / 2}, 4 * FIRST},
	    {"two halves filling the first block", {FIRST / 2, FIRST / 2}, 2 * FIRST},
	    {"many small pieces across two growths", std::vector<uint32_t>(40, 0x3001), 4 * FIRST},
	    {"a tiny piece after a large one", {2 * FIRST - 2, 1}, 2 * FIRST},
	    {"a tiny piece filling the grown block", {2 * FIRST - 1, 1}, 4 * FIRST},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fake_http_reset();
		test_log_start();
		std::string body, lines;
		char seed = 0;
		for (uint32_t n : c.pieces) {
			fake_http.pieces.push_back(fake_http_piece(bytes_of(n, seed++)));
			body += fake_http.pieces.back().bytes;
			char line[32];
			std::snprintf(line, sizeof line, "  len=%x\n", n);
			lines += line;
		}
		Fetched f = fetch();
		ASSERT_FALSE(f.none);
		EXPECT_TRUE(f.text == body) << "text differs from the body";
		EXPECT_GE(f.capacity, c.capacity);
		EXPECT_LT(f.capacity, 2 * c.capacity);
		EXPECT_EQ(test_log_text(), HEAD + lines);
	}
}

TEST_F(ListDownload, ReadsThatGiveNone)
{
	struct Case {
		const char* what;
		FakeHttpPiece bad;
		const char* last_read;
	};
	const Case cases[] = {
	    {"short read", {true, 0x100, true, 0xff, ""}, "read 3 100"},
	    {"long read", {true, 0x100, true, 0x101, ""}, "read 3 100"},
	    {"failed read", {true, 0x100, false, 0, ""}, "read 3 100"},
	    {"nothing delivered", {true, 0x100, true, 0, ""}, "read 3 100"},
	    {"growth past 2^31", {true, 0x80000000u - 0x30000, true, 0, ""}, "query 3"},
	    {"a piece of 4 GiB", {true, 0xffffffffu, true, 0, ""}, "query 3"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fake_http_reset();
		test_log_start();
		fake_http.pieces = {fake_http_piece(bytes_of(FIRST, 1)),
		    fake_http_piece(bytes_of(0x10000, 2)), c.bad, fake_http_piece("never read")};
		EXPECT_TRUE(fetch().none);
		char line[32];
		std::snprintf(line, sizeof line, "  len=%x\n", c.bad.announced);
		EXPECT_EQ(test_log_text(), std::string(HEAD) + "  len=20000\n  len=10000\n" + line);
		std::vector<std::string> tail(fake_http_calls.end() - 4, fake_http_calls.end());
		std::vector<std::string> want = {c.last_read, "close 3", "close 2", "close 1"};
		EXPECT_EQ(tail, want);
	}
}

TEST_F(ListDownload, EmptyText)
{
	struct Case {
		const char* what;
		void (*script)();
		const char* lines;
	};
	const Case cases[] = {
	    {"failed send",
		[] {
			fake_http.send_ok = false;
			fake_http.last_error = 12029;
			fake_http.pieces = {{false, 0, false, 0, ""}};
		},
		"Error sending HTTP request: 12029\n"
		"  server: 'list.lanx.example' path: '/zo-list.txt'\n"
		"Error no data: 12029\n"},
	    {"failed first query",
		[] {
			fake_http.last_error = 7;
			fake_http.pieces = {{false, 0, false, 0, ""}};
		},
		"Error no data: 7\n"},
	    {"empty body",
		[] { fake_http.last_error = 0; },
		"Error no data: 0\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fake_http_reset();
		test_log_start();
		c.script();
		Fetched f = fetch();
		ASSERT_FALSE(f.none);
		EXPECT_EQ(f.text, "");
		EXPECT_EQ(test_log_text(), HEAD + std::string(c.lines));
		EXPECT_EQ(fake_http_calls.back(), "close 1");
	}
}

TEST_F(ListDownload, FailedOpensShowAsZeroAndStillClose)
{
	fake_http.session = 0;
	fake_http.last_error = 12007;
	Fetched f = fetch();
	ASSERT_FALSE(f.none);
	EXPECT_EQ(f.text, "");
	EXPECT_EQ(test_log_text(),
	    "Loading subnet list from http://list.lanx.example/zo-list.txt\n"
	    "  handles hi=0, hc=0, hr=0\n"
	    "Error sending HTTP request: 12007\n"
	    "  server: 'list.lanx.example' path: '/zo-list.txt'\n"
	    "Error no data: 12007\n");
	std::vector<std::string> tail(fake_http_calls.end() - 3, fake_http_calls.end());
	std::vector<std::string> want = {"close 0", "close 0", "close 0"};
	EXPECT_EQ(tail, want);
}

TEST_F(ListDownload, LaterQueryFailureKeepsWhatArrived)
{
	fake_http.last_error = 5;
	fake_http.pieces = {fake_http_piece("10.0.0.0/8\n"), fake_http_piece("11.0.0.0/8\n"),
	    {false, 0, false, 0, ""}, fake_http_piece("never")};
	Fetched f = fetch();
	ASSERT_FALSE(f.none);
	EXPECT_EQ(f.text, "10.0.0.0/8\n11.0.0.0/8\n");
	EXPECT_EQ(test_log_text(), std::string(HEAD) + "  len=b\n  len=b\n");
}

TEST_F(ListDownload, DumpFollowsTheControlWord)
{
	struct Case {
		const char* what;
		uint32_t word;
		const char* body;
		const char* tail;
	};
	const Case cases[] = {
	    {"dump of a text", CW_DUMP_LIST, "1.2.3.4\n", "  len=8\n\n\n1.2.3.4\n\n\n"},
	    {"dump of the empty text", CW_DUMP_LIST | CW_AGGREGATE, "", "Error no data: 0\n\n\n\n\n"},
	    {"no dump without the bit", 0xff & ~CW_DUMP_LIST, "1.2.3.4\n", "  len=8\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fake_http_serve(c.body);
		test_log_start();
		word = c.word;
		fetch();
		EXPECT_EQ(test_log_text(), HEAD + std::string(c.tail));
	}
}

} // namespace
