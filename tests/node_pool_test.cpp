// Lists far larger than one chunk of nodes, with merges and removals feeding the free list:
// whatever the pool hands out, the list stays a partition of the address space.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "prefix/prefix_list.h"

namespace {

struct Range {
	uint64_t first, end;	// [first, end)
};

// Random ascending prefixes at aligned bases; some come in sibling pairs, which merge.
std::vector<Range> generated(std::mt19937& rng, int count)
{
	std::vector<Range> out;
	uint64_t at = uint64_t{1} << 24;
	for (int i = 0; i < count && at < (uint64_t{0xF0} << 24); i++) {
		int32_t length = 20 + static_cast<int32_t>(rng() % 13);
		uint64_t size = uint64_t{1} << (32 - length);
		at = (at + size - 1) & ~(size - 1);
		if (rng() % 3 != 0)
			at += size * (1 + rng() % 4);	// a hole before it
		at = (at + size - 1) & ~(size - 1);
		int pieces = rng() % 4 == 0 ? 2 : 1;	// a sibling pair fuses
		if (pieces == 2 && (at & size) != 0)
			pieces = 1;
		for (int p = 0; p < pieces; p++) {
			out.push_back({at, at + size});
			at += size;
		}
	}
	return out;
}

// Walks the list after its root: every node starts where the one before it ended, the walk ends at 2^32, and
// the listed blocks cover exactly the given ranges.
void expect_partition(const std::vector<Range>& given)
{
	std::vector<Range> listed;
	uint64_t at = 0;
	size_t nodes = 0;
	for (PrefixNode* n = prefix_list.next->next; n != &prefix_list; n = n->next, nodes++) {
		ASSERT_EQ(n->next->prev, n);
		ASSERT_EQ(uint64_t{n->base}, at) << "node " << nodes;
		uint64_t end = at + (uint64_t{1} << (32 - n->length));
		if (n->listed && n != prefix_list.prev) {
			if (!listed.empty() && listed.back().end == at)
				listed.back().end = end;
			else
				listed.push_back({at, end});
		}
		at = end;
	}
	ASSERT_EQ(at, uint64_t{1} << 32);
	std::vector<Range> merged;
	for (const Range& r : given) {
		if (!merged.empty() && merged.back().end == r.first)
			merged.back().end = r.end;
		else
			merged.push_back(r);
	}
	ASSERT_EQ(listed.size(), merged.size());
	for (size_t i = 0; i < merged.size(); i++) {
		EXPECT_EQ(listed[i].first, merged[i].first) << i;
		EXPECT_EQ(listed[i].end, merged[i].end) << i;
	}
}

TEST(NodePool, LargeListsStayPartitionsAcrossResets)
{
	std::mt19937 rng(11);
	for (int round = 0; round < 4; round++) {
		SCOPED_TRACE(testing::Message() << "round " << round);
		std::vector<Range> ranges = generated(rng, 3000 + round * 7000);
		reset_prefix_list();
		ASSERT_NE(append_node(0, 0, 0), nullptr);
		for (const Range& r : ranges) {
			int32_t length = 32 - std::countr_zero(r.end - r.first);
			ASSERT_TRUE(add_prefix(static_cast<uint32_t>(r.first), length));
		}
		ASSERT_TRUE(add_prefix(0xFFFFFFFFu, 32));
		ASSERT_NO_FATAL_FAILURE(expect_partition(ranges));
	}
	reset_prefix_list();
	EXPECT_EQ(prefix_list.next, &prefix_list);
	EXPECT_EQ(prefix_list.prev, &prefix_list);
}

// Nodes removed from the middle come back on later appends without touching the live ones.
TEST(NodePool, RemovedNodesAreReusedSafely)
{
	reset_prefix_list();
	std::vector<PrefixNode*> live;
	for (uint32_t i = 0; i < 10000; i++)
		live.push_back(append_node(i, 32, 1));
	for (size_t i = 0; i < live.size(); i += 2)
		remove_node(live[i]);
	for (uint32_t i = 0; i < 7000; i++)
		ASSERT_NE(append_node(20000 + i, 32, 0), nullptr);
	std::vector<uint32_t> bases;
	for (PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next)
		bases.push_back(n->base);
	ASSERT_EQ(bases.size(), 5000u + 7000u);
	for (uint32_t i = 0; i < 5000; i++)
		ASSERT_EQ(bases[i], 2 * i + 1);
	for (uint32_t i = 0; i < 7000; i++)
		ASSERT_EQ(bases[5000 + i], 20000 + i);

	// After a reset nothing of the old list is handed out again twice.
	for (size_t i = 1; i < live.size(); i += 2)
		remove_node(live[i]);
	reset_prefix_list();
	for (uint32_t i = 0; i < 12000; i++)
		ASSERT_NE(append_node(i, 32, 1), nullptr);
	uint32_t expected = 0;
	for (PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next)
		ASSERT_EQ(n->base, expected++);
	EXPECT_EQ(expected, 12000u);
	reset_prefix_list();
}

} // namespace
