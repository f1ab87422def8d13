// The PrefixList: worked lists, edge cases, and the promised shape over generated prefix sets.
#include "prefix/prefix_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/prefix_blocks.h"

namespace {

class PrefixListTest : public ::testing::Test {
protected:
	void TearDown() override { reset_prefix_list(); }
};

TEST_F(PrefixListTest, AppendRemoveAndResetKeepBothLinks)
{
	EXPECT_EQ(prefix_list.next, &prefix_list);
	EXPECT_EQ(prefix_list.prev, &prefix_list);
	PrefixNode* a = append_node(1, 1, 1);
	PrefixNode* b = append_node(2, 2, 0);
	ASSERT_TRUE(a && b && append_node(3, 3, 1));
	EXPECT_EQ(blocks(), (std::vector<Block>{{1, 1, 1}, {2, 2, 0}, {3, 3, 1}}));
	remove_node(b);
	remove_node(a);
	EXPECT_EQ(blocks(), (std::vector<Block>{{3, 3, 1}}));
	reset_prefix_list();
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

// Generated prefixes, sometimes closed by a block at 255.255.255.254.
std::vector<Prefix> generate_full(std::mt19937& rng)
{
	std::vector<Prefix> out = generate(rng, SPACE);
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
		const std::vector<Prefix> prefixes = generate_full(rng);
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
