#pragma once
// PrefixList tests: lists as plain blocks, the loader's build order, generated prefix sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <vector>

#include "prefix/prefix_list.h"

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

inline void PrintTo(const Block& b, std::ostream* os)
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
constexpr uint64_t SPACE = uint64_t{1} << 32;

inline Block gap(uint32_t base, int32_t length) { return {base, length, 0}; }
inline Block listed(uint32_t base, int32_t length) { return {base, length, 1}; }
inline uint64_t size64(int32_t length) { return uint64_t{1} << (32 - length); }

// The list as blocks, checking both links of every node on the way.
inline std::vector<Block> blocks()
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
inline void build(const std::vector<Prefix>& prefixes, bool terminator)
{
	reset_prefix_list();
	ASSERT_NE(append_node(0, 0, 0), nullptr);
	for (const Prefix& p : prefixes)
		ASSERT_TRUE(add_prefix(p.base, p.length));
	if (terminator) {
		ASSERT_TRUE(add_prefix(0xFFFFFFFF, 32));
	}
}

// A list laid down node by node, as add_prefix would never build it.
inline void lay(const std::vector<Block>& list)
{
	reset_prefix_list();
	for (const Block& b : list)
		ASSERT_NE(append_node(b.base, b.length, static_cast<uint8_t>(b.listed)), nullptr);
}

// The gaps from 128.0.0.0/2 on, k-1 leading ones at length k, up to the given length.
inline std::vector<Block> top_gaps(int32_t last = 32)
{
	std::vector<Block> out;
	for (int32_t k = 2; k <= last; k++)
		out.push_back(gap(~static_cast<uint32_t>((uint64_t{1} << (33 - k)) - 1), k));
	return out;
}

inline std::vector<Block> cat(std::vector<Block> a, const std::vector<Block>& b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

// One past the last address any prefix covers.
inline uint64_t reach(const std::vector<Prefix>& prefixes)
{
	uint64_t end = 0;
	for (const Prefix& p : prefixes)
		end = std::max(end, p.base + size64(p.length));
	return end;
}

// Ascending aligned prefixes below limit: mostly disjoint tiles, with upper siblings,
// prefixes nested in the one before, and a narrower one before a wider one of equal base.
inline std::vector<Prefix> generate(std::mt19937& rng, uint64_t limit)
{
	std::vector<Prefix> out;
	uint64_t cursor = rng() % 3 == 0 ? 0 : (rng() % 4 == 0 ? limit / 2 + rng() % (limit / 2) : rng() % limit);
	if (rng() % 3 == 0)
		cursor &= ~uint64_t{0} << (rng() % 33);
	const int steps = 1 + rng() % 120;
	for (int s = 0; s < steps && cursor < limit; s++) {
		int32_t shortest = cursor == 0 ? 0 : 32 - std::countr_zero(cursor);
		if (shortest == 0 && rng() % 8 != 0)
			shortest = 1 + rng() % 8;
		while (cursor + size64(shortest) > limit)
			shortest++;
		int32_t length = rng() % 4 == 0 ? shortest + rng() % (33 - shortest)
						 : std::min<int32_t>(32, shortest + rng() % 6);
		if (shortest == 0 && rng() % 2 == 0)
			length = 0;
		Prefix p = {static_cast<uint32_t>(cursor), length};
		if (rng() % 5 < 3) {
			if (length < 32 && rng() % 10 == 0)
				out.push_back({p.base, length + 1 + static_cast<int32_t>(rng() % (32 - length))});
			out.push_back(p);
			if (length < 32 && rng() % 10 == 0) {
				int32_t inner = length + 1 + rng() % (32 - length);
				uint64_t offset = (rng() % (size64(length) / size64(inner))) * size64(inner);
				out.push_back({static_cast<uint32_t>(p.base + offset), inner});
			}
			if (length > 0 && (p.base & block_size(length)) == 0 && rng() % 3 == 0 &&
			    cursor + 2 * size64(length) <= limit) {
				cursor += size64(length);
				p.base = static_cast<uint32_t>(cursor);
				out.push_back(p);
			}
		}
		cursor += size64(length);
	}
	return out;
}
