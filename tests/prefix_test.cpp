// The prefix subsystem: the partition, the list text and its loading, the download; the log.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "prefix/list_download.h"
#include "prefix/list_text.h"
#include "prefix/prefix_list.h"
#include "tests/fake/fake_http.h"
#include "tests/support.h"

namespace {

#define TOP " +255.255.255.255/32"
#define HANDLES "  handles hi=1, hc=2, hr=3\n"
#define UNREACHABLE "Error sending HTTP request: 12029\n  server: 'list.lanx.example' path: '/zo-list.txt'\n"

// The root ("-") and the listed nodes ("+").
std::string nodes()
{
	std::string out;
	for (PrefixNode* n = next_node(&prefix_list); n != &prefix_list; n = next_node(n))
		if (n->listed || n == next_node(&prefix_list))
			out += std::string(n->listed ? " +" : " -") + dotted(n->base) + "/" + std::to_string(n->length);
	return out.substr(1);
}

// A log renamed away whose name cannot be opened again keeps its stream: nothing written is lost.
TEST(Log, ANameThatCannotBeReopenedKeepsTheStream)
{
	const ScopedTempDir dir;
	ASSERT_TRUE(log_open("l"));
	log_write("a\n");
	ASSERT_EQ(std::rename("l", "old"), 0);
	ASSERT_EQ(mkdir("l", 0700), 0);
	EXPECT_FALSE(log_reopen());
	log_write("b\n");
	log_flush();
	std::ifstream old_file("old");
	EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old_file), {}), "a\nb\n");
}

// A line gives a prefix only with four octets 0 to 255 and a length 0 to 32 or none; host bits go.
TEST(ListText, LinesThatArePrefixes)
{
	const std::pair<const char*, const char*> rows[] = {
		{"14.1.2.3\r\n", "14.1.2.0/24"}, // a line feed ends the line, a carriage return too
		{"255.255.255.255/32", "255.255.255.255/32"},
		{"0.0.0.0/0", "0.0.0.0/0"},
		{"10. +1.2.3/\t16", "10.1.0.0/16"},
		{"9.0.0.0:8", "9.0.0.0/24"},
		{"10.0.0.\n5.0.0.0/8", "none"},
		{"10.0.0.0/", "none"},
	};
	for (auto [line, prefix] : rows) {
		SCOPED_TRACE(line);
		uint32_t base = 1;
		int32_t length = -1;
		const bool scanned = scan_line(line, &base, &length);
		EXPECT_EQ(scanned ? dotted(base) + "/" + std::to_string(length) : "none", prefix);
	}
}

// Ascending prefixes (from few centres, so that they nest, touch and repeat), then the terminator:
// after the root the nodes tile the space from 0 or 2^31 (the lower half is then the root's) on,
// no neighbours of one kind are the halves of one block, and the longest node holding an address
// (the last one among them) is listed exactly when an added prefix holds it.
TEST(Partition, AscendingPrefixesTileTheSpaceAndSortEveryAddress)
{
	reset_prefix_list(); // an empty list: its sentinel reads as an unlisted 0.0.0.0/0
	ASSERT_TRUE(add_prefix(ip(10, 0, 0, 0), 8));
	ASSERT_EQ(nodes(), "-0.0.0.0/5 +10.0.0.0/8");
	std::mt19937 rng(1);
	auto size = [](int32_t length) { return uint64_t{1} << (32 - length); };
	for (int round = 0; round < 300; round++) {
		const bool many = round % 100 == 99; // past one chunk of nodes
		const uint32_t centre[3] = {static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng()), 0xFFFFFFFFu};
		std::vector<std::pair<uint32_t, int32_t>> added;
		for (uint32_t i = 0, count = many ? 9000 : rng() % 40; i < count; i++) {
			int32_t length = static_cast<int32_t>(many ? 32 : rng() % 8 ? 8 + rng() % 25 : rng() % 33);
			uint32_t a = many ? ip(10, 0, 0, 0) + 3 * i
					  : centre[rng() % 3] ^ static_cast<uint32_t>(rng() >> rng() % 32);
			added.push_back({a & ~static_cast<uint32_t>(size(length) - 1), length});
		}
		std::sort(added.begin(), added.end(), [](auto& x, auto& y) { return x.first < y.first; });
		added.push_back({0xFFFFFFFFu, 32});
		reset_prefix_list();
		append_node(0, 0, 0);
		for (auto [a, length] : added)
			ASSERT_TRUE(add_prefix(a, length) && add_prefix(a, 33) && add_prefix(a, -1));
		uint64_t at = next_node(next_node(&prefix_list))->base;
		ASSERT_TRUE(at == 0 || at == 0x80000000u) << nodes();
		for (PrefixNode* n = next_node(next_node(&prefix_list)); n != &prefix_list; n = next_node(n)) {
			const PrefixNode* p = prev_node(n);
			ASSERT_TRUE(n->base == at && at % size(n->length) == 0) << nodes();
			ASSERT_TRUE(p == next_node(&prefix_list) || p->listed != n->listed || p->length != n->length ||
				    (p->base & size(n->length)) != 0)
				<< nodes();
			at += size(n->length);
		}
		for (size_t i = 0; i < added.size() && i < 99; i++) {
			const uint32_t first = added[i].first,
				       last = first + static_cast<uint32_t>(size(added[i].second) - 1);
			for (uint32_t x : {first - 1, first, last, last + 1, static_cast<uint32_t>(rng())}) {
				bool lanx = std::any_of(added.begin(), added.end(),
							[&](auto& p) { return (x ^ p.first) < size(p.second); });
				PrefixNode* best = next_node(&prefix_list);
				for (PrefixNode* n = best; n != &prefix_list; n = next_node(n))
					best = (x ^ n->base) < size(n->length) && n->length >= best->length ? n : best;
				ASSERT_EQ(best->listed, lanx) << x << " in " << nodes();
			}
		}
	}
}

// One row: a download of the body's pieces, the final status; the text or "(none)", the log after the
// "Loading" and "handles" lines. Every download opens, sends and closes the same three objects.
void expect_download(const char* what, const std::vector<FakeHttpPiece>& pieces, uint32_t status,
		     const std::string& text, const std::string& log, uint32_t flags = 0)
{
	SCOPED_TRACE(what);
	start_test_log(flags);
	fake_http_serve("");
	fake_http_pieces = pieces;
	fake_http_status = status;
	ListText got;
	EXPECT_EQ(fetch_list_text(&got) ? got.owned : "(none)", text);
	std::free(got.owned);
	EXPECT_EQ(log_text(), "Loading subnet list from http://list.lanx.example/zo-list.txt\n" HANDLES + log);
	EXPECT_EQ(fake_http_calls,
		  "connect(1,list.lanx.example) request(2,/zo-list.txt) send(3) close(3) close(2) close(1)");
}

TEST(ListDownload, TextAndLog)
{
	const std::string big(0x1fffe, '0'); // two more bytes fill the first block
	expect_download("pieces across reads; 299 is a success", {{5, "10.0."}, {6, "0.0/8\n"}}, 299, "10.0.0.0/8\n",
			"  len=5\n  len=6\n");
	expect_download("a redirect not followed, or an error page", {{2, "ok"}}, 300, "(none)",
			"  len=2\nList server answered 300\n");
	expect_download("a NUL byte", {{4, std::string("1.2\0", 4)}}, 200, "(none)",
			"  len=4\nList text holds a NUL byte\n");
	expect_download("an unreachable server", {{0, ""}}, 0, "", UNREACHABLE "Error no data: 12029\n");
	expect_download("a short read", {{5, "ab"}}, 200, "(none)", "  len=5\n");
	expect_download("a later query fails it", {{2, "a\n"}, {0, ""}}, 200, "(none)",
			"  len=2\nError reading HTTP response: 0\n");
	expect_download("growth keeps what came before", {{2, "1."}, {0x1fffe, big}}, 200, "1." + big,
			"  len=2\n  len=1fffe\n");
	expect_download("a body past 256 MiB: refused", {{2, "ab"}, {0xfffffff, ""}}, 200, "(none)",
			"  len=2\n  len=fffffff\nList text passes 256 MiB\n");
	expect_download("even one before any byte", {}, 200, "(none)", "Error no data: 0\n", CW_EXIT);
}

// One row: the downloaded list, then the static file, loaded over what the row before left; the listed
// nodes after the root.
void expect_load(const char* what, const char* list, const char* nodes_after, std::string file = "")
{
	SCOPED_TRACE(what);
	start_test_log();
	fake_http_serve(list);
	std::ofstream("lanxroute.static", std::ios::binary) << file;
	EXPECT_TRUE(load_prefix_list());
	EXPECT_EQ(nodes(), "-0.0.0.0/0 " + std::string(nodes_after));
}

TEST(LoadPrefixList, TextsToPartition)
{
	const ScopedTempDir dir;
	expect_load("list, then static file; no octets carry over", "10.1.2.3/32\n", "+10.1.2.3/32 +20.0.0.0/24" TOP,
		    "20/8\n20.0.0.0\n");
	EXPECT_NE(log_text().find("\nSkipped 1 line of lanxroute.static that is not an IPv4 prefix\n"),
		  std::string::npos);
	expect_load("a line the static file's 4096-byte limit cuts adds nothing", "", TOP + 1,
		    std::string(4084, '#') + "\n192.0.0.0/24\n");
	expect_load("a file of 4096 bytes is whole", "", "+2.0.0.0/16" TOP, std::string(4085, '#') + "\n2.0.0.0/16");
	expect_load("comments, blank lines, lines of no prefix",
		    "# the list\n\n \n#1.0.0.0/8\n2.0.0.0/8\n1.0.0.0/33\n1.2.4.256\n", "+2.0.0.0/8" TOP);
	EXPECT_NE(log_text().find("\nSkipped 2 lines of the list that are not IPv4 prefixes\n"), std::string::npos);
}

// The same texts again are not built anew (no count line), whether the core holds the list or the
// platform keeps it, new (built) and then confirmed (not).
TEST(LoadPrefixList, SameTextsNotBuiltAnew)
{
	const ScopedTempDir dir;
	std::ofstream("lanxroute.static");
	for (int round = 0; round < 4; round++) {
		SCOPED_TRACE(round);
		start_test_log();
		fake_http_serve("10.0.0.0/8\n1.2.3.256\n");
		fake_http_kept = round < 2 ? nullptr : "10.0.0.0/8\n1.2.3.256\n";
		fake_http_same = round == 3;
		EXPECT_TRUE(load_prefix_list());
		EXPECT_EQ(nodes(), "-0.0.0.0/0 +10.0.0.0/8" TOP);
		EXPECT_EQ(log_text().find("Skipped 1 line of the list") != std::string::npos, round % 2 == 0);
	}
}

} // namespace
