// The PrefixList: worked lists, edge cases, and the promised shape over generated prefix sets.
#include "prefix/prefix_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
	return a << 24 | b << 16 | c << 8 | d;
}

struct Block {
	uint32_t base;
	int32_t length;
	int listed;
	bool operator==(const Block&) const = default;
};

void PrintTo(const Block& b, std::ostream* os)
{
	char text[40];
	std::snprintf(text, sizeof text, "%u.%u.%u.%u/%d%s", b.base >> 24, b.base >> 16 & 255,
	    b.base >> 8 & 255, b.base & 255, b.length, b.listed ? " listed" : "");
	*os << text;
}

struct Prefix {
	uint32_t base;
	int32_t length;
};

constexpr Block ROOT = {0, 0, 0};
constexpr Block TERMINATOR = {0xFFFFFFFF, 32, 1};

Block gap(uint32_t base, int32_t length) { return {base, length, 0}; }
Block listed(uint32_t base, int32_t length) { return {base, length, 1}; }

// The list as blocks, checking both links of every node on the way.
std::vector<Block> blocks()
{
	std::vector<Block> out;
	const PrefixNode* prev = &prefix_list;
	for (const PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next) {
		EXPECT_EQ(n->prev, prev);
		out.push_back({n->base, n->length, n->listed});
		prev = n;
		if (out.size() > 100000) {
			ADD_FAILURE() << "list does not end";
			break;
		}
	}
	EXPECT_EQ(prefix_list.prev, prev);
	EXPECT_EQ(prefix_list.base, 0u);
	EXPECT_EQ(prefix_list.length, 0);
	EXPECT_EQ(prefix_list.listed, 0);
	return out;
}

// The loader's calling order.
void build(const std::vector<Prefix>& prefixes, bool terminator)
{
	reset_prefix_list();
	ASSERT_NE(append_node(0, 0, 0), nullptr);
	for (const Prefix& p : prefixes)
		ASSERT_TRUE(add_prefix(p.base, p.length));
	if (terminator) {
		ASSERT_TRUE(add_prefix(0xFFFFFFFF, 32));
	}
}

// The gaps from 128.0.0.0/2 on, k-1 leading ones at length k, up to the given length.
std::vector<Block> top_gaps(int32_t last = 32)
{
	std::vector<Block> out;
	for (int32_t k = 2; k <= last; k++)
		out.push_back(gap(~static_cast<uint32_t>((uint64_t{1} << (33 - k)) - 1), k));
	return out;
}

std::vector<Block> cat(std::vector<Block> a, const std::vector<Block>& b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

class PrefixListTest : public ::testing::Test {
protected:
	void TearDown() override { reset_prefix_list(); }
};

TEST_F(PrefixListTest, EmptyFromStartAndAfterReset)
{
	EXPECT_EQ(prefix_list.next, &prefix_list);
	EXPECT_EQ(prefix_list.prev, &prefix_list);
	build({{ip(10, 0, 0, 0), 8}}, true);
	reset_prefix_list();
	EXPECT_EQ(prefix_list.next, &prefix_list);
	EXPECT_EQ(prefix_list.prev, &prefix_list);
}

TEST_F(PrefixListTest, AppendAndRemoveKeepBothLinks)
{
	PrefixNode* a = append_node(1, 1, 1);
	PrefixNode* b = append_node(2, 2, 0);
	PrefixNode* c = append_node(3, 3, 1);
	ASSERT_TRUE(a && b && c);
	EXPECT_EQ(prefix_list.next, a);
	EXPECT_EQ(a->prev, &prefix_list);
	EXPECT_EQ(c->next, &prefix_list);
	EXPECT_EQ(blocks(), (std::vector<Block>{{1, 1, 1}, {2, 2, 0}, {3, 3, 1}}));
	remove_node(b);
	EXPECT_EQ(blocks(), (std::vector<Block>{{1, 1, 1}, {3, 3, 1}}));
	remove_node(a);
	remove_node(c);
	EXPECT_EQ(prefix_list.next, &prefix_list);
	EXPECT_EQ(prefix_list.prev, &prefix_list);
}

TEST_F(PrefixListTest, ExampleOneStepByStep)
{
	const std::vector<Block> head = {ROOT, gap(0, 5), gap(ip(8, 0, 0, 0), 7)};
	struct Row {
		const char* what;
		Prefix add;
		std::vector<Block> after;
	} rows[] = {
	    {"first prefix: walk down only", {ip(10, 0, 0, 0), 8}, cat(head, {listed(ip(10, 0, 0, 0), 8)})},
	    {"upper half fuses with the tail", {ip(11, 0, 0, 0), 8}, cat(head, {listed(ip(10, 0, 0, 0), 7)})},
	    {"contained changes nothing", {ip(10, 20, 0, 0), 16}, cat(head, {listed(ip(10, 0, 0, 0), 7)})},
	    {"adjacent, no gap needed", {ip(12, 0, 0, 0), 8},
		cat(head, {listed(ip(10, 0, 0, 0), 7), listed(ip(12, 0, 0, 0), 8)})},
	    {"10/7 and 12/7 are no siblings", {ip(13, 0, 0, 0), 8},
		cat(head, {listed(ip(10, 0, 0, 0), 7), listed(ip(12, 0, 0, 0), 7)})},
	    {"terminator", {0xFFFFFFFF, 32},
		cat(cat(cat(head, {listed(ip(10, 0, 0, 0), 7), listed(ip(12, 0, 0, 0), 7), gap(ip(14, 0, 0, 0), 7),
				      gap(ip(16, 0, 0, 0), 4), gap(ip(32, 0, 0, 0), 3), gap(ip(64, 0, 0, 0), 2)}),
			top_gaps()),
		    {TERMINATOR})},
	};
	reset_prefix_list();
	ASSERT_NE(append_node(0, 0, 0), nullptr);
	for (const Row& row : rows) {
		SCOPED_TRACE(row.what);
		ASSERT_TRUE(add_prefix(row.add.base, row.add.length));
		EXPECT_EQ(blocks(), row.after);
	}
	EXPECT_EQ(blocks().size(), 41u);
}

TEST_F(PrefixListTest, ExampleTwoCascadingMerge)
{
	build({{ip(10, 0, 0, 0), 9}, {ip(10, 128, 0, 0), 10}, {ip(10, 192, 0, 0), 11}}, false);
	EXPECT_EQ(blocks(), (std::vector<Block>{ROOT, gap(0, 5), gap(ip(8, 0, 0, 0), 7), listed(ip(10, 0, 0, 0), 9),
				listed(ip(10, 128, 0, 0), 10), listed(ip(10, 192, 0, 0), 11)}));
	ASSERT_TRUE(add_prefix(ip(10, 224, 0, 0), 11));
	EXPECT_EQ(blocks(),
	    (std::vector<Block>{ROOT, gap(0, 5), gap(ip(8, 0, 0, 0), 7), listed(ip(10, 0, 0, 0), 8)}));
}

TEST_F(PrefixListTest, ExampleThreeFirstPrefixInUpperHalf)
{
	build({{ip(192, 168, 0, 0), 16}}, false);
	EXPECT_EQ(blocks(),
	    (std::vector<Block>{ROOT, gap(ip(128, 0, 0, 0), 2), gap(ip(192, 0, 0, 0), 9),
		gap(ip(192, 128, 0, 0), 11), gap(ip(192, 160, 0, 0), 13), listed(ip(192, 168, 0, 0), 16)}));
}

TEST_F(PrefixListTest, EdgeCases)
{
	const std::vector<Block> ten = {ROOT, gap(0, 5), gap(ip(8, 0, 0, 0), 7)};
	const uint32_t top = 0xFFFFFFFF;
	struct Row {
		const char* what;
		std::vector<Prefix> prefixes;
		bool terminator;
		std::vector<Block> list;
	} rows[] = {
	    {"given twice", {{ip(10, 0, 0, 0), 8}, {ip(10, 0, 0, 0), 8}}, false, cat(ten, {listed(ip(10, 0, 0, 0), 8)})},
	    {"inside the tail", {{ip(10, 0, 0, 0), 8}, {ip(10, 1, 0, 0), 16}}, false,
		cat(ten, {listed(ip(10, 0, 0, 0), 8)})},
	    {"last address of the tail", {{ip(10, 0, 0, 0), 8}, {ip(10, 255, 255, 255), 32}}, false,
		cat(ten, {listed(ip(10, 0, 0, 0), 8)})},
	    {"wider, same base", {{ip(10, 0, 0, 0), 16}, {ip(10, 0, 0, 0), 8}}, false,
		cat(ten, {listed(ip(10, 0, 0, 0), 8)})},
	    {"wider, same base, then the upward merge", {{ip(10, 0, 0, 0), 8}, {ip(11, 0, 0, 0), 16}, {ip(11, 0, 0, 0), 8}},
		false, cat(ten, {listed(ip(10, 0, 0, 0), 7)})},
	    {"wider, lower base: the earlier gap stays", {{ip(10, 1, 0, 0), 16}, {ip(10, 0, 0, 0), 8}}, false,
		cat(ten, {gap(ip(10, 0, 0, 0), 16), listed(ip(10, 0, 0, 0), 8)})},
	    {"lower, not covering: appended out of order", {{ip(10, 0, 0, 0), 8}, {ip(9, 0, 0, 0), 8}}, false,
		cat(ten, {listed(ip(10, 0, 0, 0), 8), gap(ip(11, 0, 0, 0), 8), gap(ip(8, 0, 0, 0), 8),
			     listed(ip(9, 0, 0, 0), 8)})},
	    {"host bits kept and never fused", {{ip(10, 1, 2, 3), 8}, {ip(11, 0, 0, 0), 8}}, false,
		cat(ten, {listed(ip(10, 1, 2, 3), 8), listed(ip(11, 0, 0, 0), 8)})},
	    {"lower half first, upper makes /0: the root stays", {{0, 1}, {ip(128, 0, 0, 0), 1}}, true,
		{ROOT, listed(0, 0)}},
	    {"listed 0/0 first covers everything", {{0, 0}, {ip(10, 0, 0, 0), 8}, {ip(200, 0, 0, 0), 5}}, true,
		{ROOT, listed(0, 0)}},
	    {"terminator alone: 31 gaps", {}, true, cat(cat({ROOT}, top_gaps()), {TERMINATOR})},
	    {"terminator inside 224/3", {{ip(224, 0, 0, 0), 3}}, true,
		{ROOT, gap(ip(128, 0, 0, 0), 2), gap(ip(192, 0, 0, 0), 3), listed(ip(224, 0, 0, 0), 3)}},
	    {"terminator fuses with .254/32", {{top - 1, 32}}, true,
		cat(cat({ROOT}, top_gaps(31)), {listed(top - 1, 31)})},
	    {"terminator fuses with .254/32, then with .252/31", {{top - 3, 31}, {top - 1, 32}}, true,
		cat(cat({ROOT}, top_gaps(30)), {listed(top - 3, 30)})},
	    {"lowest address alone", {{0, 32}}, false,
		{ROOT, listed(0, 32)}},
	    {"first block from 0.0.0.0 then 128/1: no merge with the gap run", {{0, 2}, {ip(128, 0, 0, 0), 1}}, true,
		{ROOT, listed(0, 2), gap(ip(64, 0, 0, 0), 2), listed(ip(128, 0, 0, 0), 1)}},
	};
	for (const Row& row : rows) {
		SCOPED_TRACE(row.what);
		build(row.prefixes, row.terminator);
		EXPECT_EQ(blocks(), row.list);
	}
}

TEST_F(PrefixListTest, LengthsOutsideTheRangeChangeNothing)
{
	build({{ip(10, 0, 0, 0), 8}}, false);
	const std::vector<Block> before = blocks();
	for (int32_t length : {-1, 33, 64, INT32_MIN, INT32_MAX}) {
		SCOPED_TRACE(length);
		EXPECT_TRUE(add_prefix(ip(11, 0, 0, 0), length));
		EXPECT_EQ(blocks(), before);
	}
}

// --- The promised shape over generated prefix sets ---

constexpr uint64_t SPACE = uint64_t{1} << 32;

uint64_t size64(int32_t length) { return uint64_t{1} << (32 - length); }

// One past the last address any prefix covers.
uint64_t reach(const std::vector<Prefix>& prefixes)
{
	uint64_t end = 0;
	for (const Prefix& p : prefixes)
		end = std::max(end, p.base + size64(p.length));
	return end;
}

struct Interval {
	uint64_t start, end;	// end exclusive
	bool operator==(const Interval&) const = default;
};

std::vector<Interval> merged(std::vector<Interval> in)
{
	std::sort(in.begin(), in.end(), [](const Interval& a, const Interval& b) { return a.start < b.start; });
	std::vector<Interval> out;
	for (const Interval& i : in) {
		if (!out.empty() && i.start <= out.back().end)
			out.back().end = std::max(out.back().end, i.end);
		else
			out.push_back(i);
	}
	return out;
}

// Largest aligned blocks from the start of the hole, in order.
std::vector<Block> minimal_cover(uint64_t start, uint64_t end)
{
	std::vector<Block> out;
	while (start < end) {
		int32_t length = 0;
		while (start % size64(length) != 0 || start + size64(length) > end)
			length++;
		out.push_back(gap(static_cast<uint32_t>(start), length));
		start += size64(length);
	}
	return out;
}

// Ascending prefixes, aligned and mostly disjoint, with siblings, nested and equal-base repeats.
std::vector<Prefix> generate(std::mt19937& rng)
{
	std::vector<Prefix> out;
	uint64_t cursor = rng() % 3 == 0 ? 0 : (rng() % 4 == 0 ? SPACE / 2 + rng() % (SPACE / 2) : rng() % SPACE);
	if (rng() % 3 == 0)
		cursor &= ~uint64_t{0} << (rng() % 33);
	const int steps = 1 + rng() % 120;
	for (int s = 0; s < steps && cursor < SPACE; s++) {
		int32_t shortest = cursor == 0 ? 0 : 32 - std::countr_zero(cursor);
		if (shortest == 0 && rng() % 8 != 0)
			shortest = 1 + rng() % 8;
		int32_t length = rng() % 4 == 0 ? shortest + rng() % (33 - shortest)
						 : std::min<int32_t>(32, shortest + rng() % 6);
		Prefix p = {static_cast<uint32_t>(cursor), length};
		if (rng() % 5 < 3) {
			if (length < 31 && rng() % 10 == 0)
				out.push_back({p.base, length + 1 + static_cast<int32_t>(rng() % (32 - length))});
			out.push_back(p);
			if (length < 32 && rng() % 10 == 0) {
				int32_t inner = length + 1 + rng() % (32 - length);
				uint64_t offset = (rng() % (size64(length) / size64(inner))) * size64(inner);
				out.push_back({static_cast<uint32_t>(p.base + offset), inner});
			}
			if ((p.base & block_size(length)) == 0 && length > 0 && rng() % 3 == 0) {
				cursor += size64(length);
				p.base = static_cast<uint32_t>(cursor);
				out.push_back(p);
			}
		}
		cursor += size64(length);
	}
	if (rng() % 6 == 0 && reach(out) <= SPACE - 2)
		out.push_back({0xFFFFFFFE, static_cast<int32_t>(31 + rng() % 2)});
	return out;
}

size_t node_count()
{
	size_t n = 0;
	for (const PrefixNode* p = prefix_list.next; p != &prefix_list; p = p->next)
		n++;
	return n;
}

void check_shape(const std::vector<Prefix>& prefixes)
{
	const std::vector<Block> list = blocks();
	ASSERT_FALSE(list.empty());
	ASSERT_EQ(list[0], ROOT);

	const uint32_t first = prefixes.empty() ? 0xFFFFFFFF : prefixes[0].base;
	uint64_t at = first < 0x80000000 ? 0 : 0x80000000;
	for (size_t i = 1; i < list.size(); i++) {
		SCOPED_TRACE(testing::PrintToString(list[i]));
		ASSERT_GE(list[i].length, 0);
		ASSERT_LE(list[i].length, 32);
		ASSERT_EQ(list[i].base % size64(list[i].length), 0u) << "aligned";
		ASSERT_EQ(list[i].base, at) << "tiles without gap or overlap";
		at += size64(list[i].length);
	}
	ASSERT_EQ(at, SPACE) << "ends at 255.255.255.255";

	std::vector<Interval> given = {{0xFFFFFFFF, SPACE}}, got;
	for (const Prefix& p : prefixes)
		given.push_back({p.base, p.base + size64(p.length)});
	for (size_t i = 1; i < list.size(); i++)
		if (list[i].listed)
			got.push_back({list[i].base, list[i].base + size64(list[i].length)});
	ASSERT_EQ(merged(got), merged(given)) << "listed blocks cover exactly the prefixes";

	for (size_t i = 2; i < list.size(); i++) {
		const Block& a = list[i - 1];
		const Block& b = list[i];
		EXPECT_FALSE(a.listed && b.listed && a.length == b.length && a.length > 0 &&
			     (a.base & block_size(a.length)) == 0)
		    << "sibling halves left apart: " << testing::PrintToString(a) << ", " << testing::PrintToString(b);
	}

	for (size_t i = 1; i < list.size();) {
		if (list[i].listed) {
			i++;
			continue;
		}
		size_t j = i;
		while (j < list.size() && !list[j].listed)
			j++;
		ASSERT_LT(j, list.size()) << "the list ends with a listed block";
		const std::vector<Block> run(list.begin() + i, list.begin() + j);
		EXPECT_EQ(run, minimal_cover(list[i].base, list[j].base)) << "gap run at index " << i;
		i = j;
	}

	if (reach(prefixes) < SPACE - 1) {
		EXPECT_EQ(list.back(), TERMINATOR);
	} else {
		EXPECT_TRUE(list.back().listed);
		EXPECT_LE(list.back().length, 31) << "the terminator was fused or already covered";
	}
}

TEST_F(PrefixListTest, GeneratedSetsHaveThePromisedShape)
{
	std::mt19937 rng(20240611);
	for (int set = 0; set < 400; set++) {
		const std::vector<Prefix> prefixes = generate(rng);
		std::string text = "set " + std::to_string(set) + ":";
		for (const Prefix& p : prefixes)
			text += " " + testing::PrintToString(Block{p.base, p.length, 1});
		SCOPED_TRACE(text);

		reset_prefix_list();
		ASSERT_NE(append_node(0, 0, 0), nullptr);
		size_t count = 1;
		for (const Prefix& p : prefixes) {
			ASSERT_TRUE(add_prefix(p.base, p.length));
			const size_t now = node_count();
			ASSERT_LE(now, count + 63) << "nodes appended by one call";
			count = now;
		}
		ASSERT_TRUE(add_prefix(0xFFFFFFFF, 32));
		ASSERT_LE(node_count(), count + 63);
		check_shape(prefixes);
		if (HasFailure())
			return;
	}
}

}  // namespace
