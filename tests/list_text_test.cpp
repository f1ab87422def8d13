#include "prefix/list_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/control_word.h"
#include "prefix/prefix_list.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/test_log.h"

namespace {

uint32_t word;

std::string dotted(uint32_t a, int32_t length)
{
	char s[40];
	std::snprintf(s, sizeof s, "%u.%u.%u.%u/%d", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
	    a & 255, length);
	return s;
}

std::vector<std::string> listed_blocks()
{
	std::vector<std::string> out;
	for (PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next)
		if (n->listed)
			out.push_back(dotted(n->base, n->length));
	return out;
}

// Every node with its kind, for comparing whole lists.
std::vector<std::string> all_nodes()
{
	std::vector<std::string> out;
	for (PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next)
		out.push_back(dotted(n->base, n->length) + (n->listed ? "L" : "g"));
	return out;
}

// An empty list but for the node every list starts with.
void fresh_list()
{
	reset_prefix_list();
	append_node(0, 0, 0);
}

void reference_scan(const char* text, int32_t v[5])
{
	std::sscanf(text, "%d.%d.%d.%d/%d", &v[0], &v[1], &v[2], &v[3], &v[4]);
}

TEST(Scanner, ReadsAsTheCLibraryDoesAndStopsAtTheFirstMismatch)
{
	struct Case {
		const char* what;
		const char* text;
		std::vector<int32_t> after;	// from {1, 2, 3, 4, 24}
	};
	const Case cases[] = {
	    // Numbers.
	    {"leading zeros stay decimal", "010", {10, 2, 3, 4, 24}},
	    {"zero x is no hex prefix", "0x10", {0, 2, 3, 4, 24}},
	    {"one above int max wraps", "2147483648", {INT_MIN, 2, 3, 4, 24}},
	    {"two to the 32 wraps to 0", "4294967296", {0, 2, 3, 4, 24}},
	    {"minus two to the 32 plus one", "-4294967295", {1, 2, 3, 4, 24}},
	    {"long max cut to 32 bits", "9223372036854775807", {-1, 2, 3, 4, 24}},
	    {"one above long max saturates", "9223372036854775808", {-1, 2, 3, 4, 24}},
	    {"far above long max saturates", "99999999999999999999999999999", {-1, 2, 3, 4, 24}},
	    {"long min cut to 32 bits", "-9223372036854775808", {0, 2, 3, 4, 24}},
	    {"below long min saturates", "-9223372036854775809", {0, 2, 3, 4, 24}},
	    {"below long min, then more digits", "-92233720368547758070", {0, 2, 3, 4, 24}},
	    {"white space before the number", " \t\r\n\v\f42", {42, 2, 3, 4, 24}},
	    // The pattern.
	    {"whole prefix", "10.20.30.40/8", {10, 20, 30, 40, 8}},
	    {"no length", "10.20.30.40", {10, 20, 30, 40, 24}},
	    {"slash after the first octet", "10/8", {10, 2, 3, 4, 24}},
	    {"continues onto the next line", "10.\n20.\r\n30.\n40/\n8", {10, 20, 30, 40, 8}},
	    {"space after a separator, not before one", "10. 20 .30", {10, 20, 3, 4, 24}},
	    {"signs", "+10.-20.+30.-40/-8", {10, -20, 30, -40, -8}},
	    {"lone sign", "10.-.30", {10, 2, 3, 4, 24}},
	    {"double sign", "10.+-5", {10, 2, 3, 4, 24}},
	    {"ends after the slash", "10.20.30.40/", {10, 20, 30, 40, 24}},
	    {"trailing bytes ignored", "10.20.30.40/8abc", {10, 20, 30, 40, 8}},
	    {"byte above 127 ends it", "10.\xa0" "20", {10, 2, 3, 4, 24}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		int32_t mine[5] = {1, 2, 3, 4, 24};
		int32_t libc[5] = {1, 2, 3, 4, 24};
		scan_prefix(c.text, mine);
		reference_scan(c.text, libc);
		EXPECT_EQ(std::vector<int32_t>(libc, libc + 5), c.after) << "this C library reads numbers differently";
		EXPECT_EQ(std::vector<int32_t>(mine, mine + 5), c.after);
	}
}

// Random texts from the bytes that matter to the pattern and some that do not.
std::string random_text(std::mt19937& rng, size_t max_length)
{
	static const char alphabet[] = "0123456789012345678901234567890123456789"
	    "....////++--  \t\r\n\n\v\fax#\x80\xff";
	std::uniform_int_distribution<size_t> len(0, max_length);
	std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
	std::uniform_int_distribution<int> kind(0, 19);
	std::string s;
	size_t n = len(rng);
	while (s.size() < n) {
		if (kind(rng) == 0) {
			// A long run of digits, around the 32- and 64-bit limits.
			std::uniform_int_distribution<int> digits(9, 24);
			int d = digits(rng);
			s += static_cast<char>('1' + rng() % 9);
			for (int i = 1; i < d; i++)
				s += static_cast<char>('0' + rng() % 10);
		} else {
			s += alphabet[pick(rng)];
		}
	}
	return s;
}

TEST(Scanner, AgreesWithTheCLibraryOnRandomTexts)
{
	std::mt19937 rng(20240611);
	for (int round = 0; round < 200000; round++) {
		std::string text = random_text(rng, 24);
		int32_t start[5];
		for (int32_t& v : start)
			v = static_cast<int32_t>(rng());
		int32_t mine[5], libc[5];
		std::copy(start, start + 5, mine);
		std::copy(start, start + 5, libc);
		scan_prefix(text.c_str(), mine);
		reference_scan(text.c_str(), libc);
		ASSERT_EQ(std::vector<int32_t>(mine, mine + 5), std::vector<int32_t>(libc, libc + 5))
		    << "text: '" << text << "'";
	}
}

// The add_prefix calls a text should give, worked out line by line with the C library's scan.
std::vector<std::string> reference_nodes(const std::string& text)
{
	fresh_list();
	int32_t v[5] = {0, 0, 0, 0, 0};
	const char* p = text.c_str();
	for (;;) {
		if (*p >= '0' && *p <= '9') {
			v[4] = 24;
			reference_scan(p, v);
			uint32_t a = static_cast<uint32_t>(v[0]);
			for (int i = 1; i < 4; i++)
				a = (a << 8) | static_cast<uint32_t>(v[i]);
			if (v[4] >= 0 && v[4] <= 32)
				add_prefix(a, v[4]);
		}
		const char* lf = std::strchr(p, '\n');
		if (lf == nullptr)
			break;
		p = lf + 1;
	}
	return all_nodes();
}

TEST(ListText, AgreesWithALineByLineScanOnRandomTexts)
{
	std::mt19937 rng(7);
	for (int round = 0; round < 5000; round++) {
		std::string text = random_text(rng, 120);
		std::vector<std::string> want = reference_nodes(text);
		fresh_list();
		ASSERT_TRUE(parse_list_text(text.c_str()));
		ASSERT_EQ(all_nodes(), want) << "text: '" << text << "'";
	}
	reset_prefix_list();
}

TEST(ListText, Lines)
{
	struct Case {
		const char* what;
		const char* text;
		std::vector<std::string> listed;
	};
	const Case cases[] = {
	    {"worked example",
		"\n# the list\n10.0.0.0/8\n11.0.0.0/8\n 192.168.0.0/16\n192.168.1.0\n10/8\n",
		{"10.0.0.0/7", "192.168.1.0/24", "10.168.1.0/24"}},
	    {"CR LF line ends", "10.0.0.0/8\r\n20.0.0.0/8\r\n", {"10.0.0.0/8", "20.0.0.0/8"}},
	    {"last line without LF", "10.0.0.0/8\n20.0.0.0/8", {"10.0.0.0/8", "20.0.0.0/8"}},
	    {"leading space, tab, sign skipped", " 1.0.0.0/8\n\t2.0.0.0/8\n+3.0.0.0/8\n-4.0.0.0/8\n", {}},
	    {"byte above 127 first", "\xef\xbb\xbf" "10.0.0.0/8\n", {}},
	    {"octet 300 drops bits", "300.1.2.3/32\n", {"44.1.2.3/32"}},
	    {"negative octet", "10.0.0.-1/32\n", {"255.255.255.255/32"}},
	    {"first octets start at 0", "5/8\n", {"5.0.0.0/24"}},
	    {"scan continues over lines, next line scanned too", "1.\n2.3.4/16\n",
		{"1.2.3.4/16", "2.3.4.4/24"}},
	    {"lengths outside 0..32 give nothing", "1.0.0.0/33\n2.0.0.0/-1\n3.0.0.0/99999999999\n",
		{}},
	    {"length 0 and 32", "0.0.0.0/0\n", {"0.0.0.0/0"}},
	    {"host bits kept", "10.1.2.3/8\n", {"10.1.2.3/8"}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh_list();
		EXPECT_TRUE(parse_list_text(c.text));
		EXPECT_EQ(listed_blocks(), c.listed);
	}
	reset_prefix_list();
}

class LoadPrefixList : public testing::Test {
protected:
	char dir[64] = "/tmp/list_text_test.XXXXXX";
	char* home = nullptr;

	void SetUp() override
	{
		word = 0;
		control_word = &word;
		fake_http_reset();
		test_log_start();
		home = getcwd(nullptr, 0);
		ASSERT_NE(mkdtemp(dir), nullptr);
		ASSERT_EQ(chdir(dir), 0);
	}
	void TearDown() override
	{
		reset_prefix_list();
		std::remove("lanxroute.static");
		rmdir("lanxroute.static");
		EXPECT_EQ(chdir(home), 0);
		EXPECT_EQ(rmdir(dir), 0);
		std::free(home);
	}
};

void write_static(const std::string& bytes)
{
	std::FILE* f = std::fopen("lanxroute.static", "wb");
	ASSERT_NE(f, nullptr);
	ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
	std::fclose(f);
}

// Comment lines up to length bytes, then tail exactly at that end.
std::string padded(size_t length, const std::string& tail)
{
	std::string s;
	while (s.size() + tail.size() < length) {
		size_t room = length - tail.size() - s.size();
		size_t line = room < 80 ? room : 80;
		s += std::string(line - 1, '#') + "\n";
	}
	return s + tail;
}

const std::string TERMINATOR = "255.255.255.255/32";

TEST_F(LoadPrefixList, StaticFile)
{
	struct Case {
		const char* what;
		const char* download;
		std::string file;	// "-" for none, "/" for a directory
		std::vector<std::string> listed;
	};
	const std::string cut_line = padded(4096, "200.0.0.0/8\n201.2") + ".3.4/30\n";
	const Case cases[] = {
	    {"no static file", "10.0.0.0/8\n", "-", {"10.0.0.0/8", TERMINATOR}},
	    {"unreadable static file counts for nothing", "10.0.0.0/8\n", "/", {"10.0.0.0/8", TERMINATOR}},
	    {"static after the downloaded", "10.0.0.0/8\n", "20.0.0.0/8\n",
		{"10.0.0.0/8", "20.0.0.0/8", TERMINATOR}},
	    {"empty download", "", "20.0.0.0/8", {"20.0.0.0/8", TERMINATOR}},
	    {"exactly 4096 bytes, all read", "", padded(4096, "200.0.0.0/8"),
		{"200.0.0.0/8", TERMINATOR}},
	    {"5000 bytes, a line cut at 4096", "", cut_line + padded(5000 - cut_line.size(), "\n"),
		{"200.0.0.0/8", "201.2.0.0/24", TERMINATOR}},
	    {"NUL ends the static text", "",
		std::string("150.0.0.0/8\n\0" "160.0.0.0/8\n", 24), {"150.0.0.0/8", TERMINATOR}},
	    {"octets do not carry over from the download", "10.1.2.3/32\n", "20/8\n",
		{"10.1.2.3/32", "20.0.0.0/24", TERMINATOR}},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		std::remove("lanxroute.static");
		rmdir("lanxroute.static");
		if (c.file == "/")
			ASSERT_EQ(mkdir("lanxroute.static", 0700), 0);
		else if (c.file != "-")
			write_static(c.file);
		fake_http_serve(c.download);
		EXPECT_TRUE(load_prefix_list());
		EXPECT_EQ(listed_blocks(), c.listed);
		ASSERT_NE(prefix_list.next, &prefix_list);
		EXPECT_EQ(dotted(prefix_list.next->base, prefix_list.next->length), "0.0.0.0/0");
		EXPECT_EQ(prefix_list.next->listed, 0);
	}
}

TEST_F(LoadPrefixList, UnreachableServerLeavesTheStaticPrefixes)
{
	write_static("20.0.0.0/8\n");
	fake_http.send_ok = false;
	EXPECT_TRUE(load_prefix_list());
	EXPECT_EQ(listed_blocks(), (std::vector<std::string>{"20.0.0.0/8", TERMINATOR}));
	EXPECT_NE(test_log_text().find("Error sending HTTP request"), std::string::npos);
}

TEST_F(LoadPrefixList, NoTextLeavesTheListAsItWas)
{
	write_static("30.0.0.0/8\n");
	fake_http_serve("10.0.0.0/8\n");
	ASSERT_TRUE(load_prefix_list());
	std::vector<std::string> before = all_nodes();
	PrefixNode* head = prefix_list.next;

	fake_http_reset();
	fake_http.pieces = {fake_http_piece("40.0.0.0/8\n"), {true, 10, true, 9, "50.0.0.0/"}};
	EXPECT_FALSE(load_prefix_list());
	EXPECT_EQ(all_nodes(), before);
	EXPECT_EQ(prefix_list.next, head);
}

} // namespace
