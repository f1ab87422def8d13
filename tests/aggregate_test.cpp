// The aggregation pass: worked lists with their world routes, lists it must leave alone, and
// the forwarding decisions of generated lists before and after it.
#include "common/settings.h"
#include "routes/aggregate.h"
#include "routes/reconcile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "common/control_word.h"
#include "platform/byte_order.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"
#include "tests/fake/fake_routing.h"
#include "tests/prefix_blocks.h"

namespace {

const uint32_t WORLD_GATEWAY = host_to_net(ip(192, 0, 2, 1));
const uint32_t LANX_GATEWAY = host_to_net(ip(198, 51, 100, 1));

// A route the pass asked for, in host order.
struct Made {
	Block block;
	uint32_t if_index;
	uint32_t next_hop;
	bool operator==(const Made&) const = default;
};

void PrintTo(const Made& m, std::ostream* os)
{
	PrintTo(m.block, os);
	*os << " if " << m.if_index << " via " << std::hex << m.next_hop << std::dec;
}

std::vector<Made> made()
{
	std::vector<Made> out;
	for (const FakeRouteCall& call : fake_routing.calls) {
		EXPECT_EQ(call.op, 'c');
		const uint32_t mask = net_to_host(call.row.mask);
		out.push_back({{net_to_host(call.row.dest), std::popcount(mask), 0}, call.row.if_index,
		    call.row.next_hop});
	}
	return out;
}

Made world(uint32_t base, int32_t length) { return {{base, length, 0}, 7, WORLD_GATEWAY}; }

uint32_t word;

class AggregateTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		word = 0;
		control_word = &word;
		fake_routing_reset();
		route_snapshot = {0, nullptr};
		lanx_gateway = LANX_GATEWAY;
		world_gateway = WORLD_GATEWAY;
		lanx_if = 3;
		world_if = 7;
	}
	void TearDown() override { reset_prefix_list(); }
};

// The whole list after the pass: the list before with the stretch from first replaced.
std::vector<Block> replaced(const std::vector<Block>& before, const std::vector<Block>& old_stretch,
    const std::vector<Block>& new_stretch)
{
	auto at = std::search(before.begin(), before.end(), old_stretch.begin(), old_stretch.end());
	EXPECT_NE(at, before.end()) << "the stretch stands in the list before the pass";
	if (at == before.end())
		return {};
	std::vector<Block> out(before.begin(), at);
	out.insert(out.end(), new_stretch.begin(), new_stretch.end());
	out.insert(out.end(), at + old_stretch.size(), before.end());
	return out;
}

TEST_F(AggregateTest, WorkedExamples)
{
	const Block eight = gap(ip(8, 0, 0, 0), 7);
	struct Row {
		const char* what;
		std::vector<Prefix> text;
		std::vector<Block> before, after;
		std::vector<Made> routes;
	} rows[] = {
	    {"gap half-sibling beside a gap stays",
		{{ip(10, 0, 0, 0), 25}, {ip(10, 0, 1, 0), 24}},
		{eight, listed(ip(10, 0, 0, 0), 25), gap(ip(10, 0, 0, 128), 25), listed(ip(10, 0, 1, 0), 24),
		    gap(ip(10, 0, 2, 0), 23)},
		{eight, listed(ip(10, 0, 0, 0), 25), gap(ip(10, 0, 0, 128), 25), listed(ip(10, 0, 1, 0), 24),
		    gap(ip(10, 0, 2, 0), 23)},
		{}},
	    {"three merges in one pass, backward before forward",
		{{ip(10, 0, 0, 0), 24}, {ip(10, 0, 1, 0), 25}, {ip(10, 0, 2, 0), 23}},
		{eight, listed(ip(10, 0, 0, 0), 24), listed(ip(10, 0, 1, 0), 25), gap(ip(10, 0, 1, 128), 25),
		    listed(ip(10, 0, 2, 0), 23), gap(ip(10, 0, 4, 0), 22)},
		{eight, listed(ip(10, 0, 0, 0), 22), gap(ip(10, 0, 4, 0), 22)},
		{world(ip(10, 0, 1, 128), 25)}},
	    {"a late merge enables an earlier one in the next pass",
		{{ip(10, 0, 1, 128), 25}, {ip(10, 0, 2, 0), 23}},
		{eight, gap(ip(10, 0, 0, 0), 24), gap(ip(10, 0, 1, 0), 25), listed(ip(10, 0, 1, 128), 25),
		    listed(ip(10, 0, 2, 0), 23), gap(ip(10, 0, 4, 0), 22)},
		{eight, listed(ip(10, 0, 0, 0), 22), gap(ip(10, 0, 4, 0), 22)},
		{world(ip(10, 0, 1, 0), 25), world(ip(10, 0, 0, 0), 24)}},
	};
	for (const Row& row : rows) {
		SCOPED_TRACE(row.what);
		fake_routing_reset();
		build(row.text, true);
		const std::vector<Block> before = blocks();
		const std::vector<Block> expected = replaced(before, row.before, row.after);
		aggregate_prefixes();
		apply_route_changes();
		EXPECT_EQ(blocks(), expected);
		EXPECT_EQ(made(), row.routes);
	}
}

// Both gateways on one interface: the absorbed gap still goes to the world gateway.
TEST_F(AggregateTest, AbsorbedGapTakesTheWorldGatewayOnASharedInterface)
{
	lanx_if = world_if = 5;
	build({{ip(10, 0, 0, 0), 24}, {ip(10, 0, 1, 0), 25}, {ip(10, 0, 2, 0), 23}}, true);
	aggregate_prefixes();
	apply_route_changes();
	EXPECT_EQ(made(), (std::vector<Made>{{gap(ip(10, 0, 1, 128), 25), 5, WORLD_GATEWAY}}));
}

TEST_F(AggregateTest, ListsLeftAlone)
{
	const uint32_t top = 0xFFFFFFFF;
	std::vector<Block> halves = {ROOT, gap(0, 5), gap(ip(8, 0, 0, 0), 7), listed(ip(10, 0, 0, 0), 8),
	    listed(ip(11, 0, 0, 0), 8), gap(ip(12, 0, 0, 0), 6), gap(ip(16, 0, 0, 0), 4), gap(ip(32, 0, 0, 0), 3),
	    gap(ip(64, 0, 0, 0), 2)};
	halves = cat(cat(halves, top_gaps()), {TERMINATOR});
	struct Row {
		const char* what;
		std::vector<Prefix> text;
		std::vector<Block> laid;	// used when there is no text
	} rows[] = {
	    {"listed blocks apart, no listed block beyond a half-sibling gap",
		{{ip(10, 0, 0, 0), 16}, {ip(10, 2, 0, 0), 16}, {ip(172, 16, 0, 0), 12}, {ip(192, 168, 0, 0), 16}}, {}},
	    {"two listed halves side by side, no merge reaching them", {}, halves},
	    {"empty text: root, gaps, terminator", {}, {}},
	    {"gap before the terminator, listed .252/31 before it", {{top - 3, 31}}, {}},
	    {"listed .253/32 between gaps at the top", {{top - 2, 32}}, {}},
	    {"listed 0/0 after the root", {{0, 0}}, {}},
	    {"out of order, nothing to merge", {{ip(10, 0, 0, 0), 8}, {ip(9, 0, 0, 0), 8}}, {}},
	    {"host bits: listed neighbours are passed over", {{ip(10, 1, 2, 3), 8}, {ip(11, 0, 0, 0), 8}}, {}},
	    {"length-0 blocks with host bits: the root never merges",
		{},
		{ROOT, listed(ip(5, 0, 0, 0), 0), listed(ip(3, 0, 0, 0), 0), gap(ip(128, 0, 0, 0), 2), TERMINATOR}},
	};
	for (const Row& row : rows) {
		SCOPED_TRACE(row.what);
		fake_routing_reset();
		if (row.laid.empty())
			build(row.text, true);
		else
			lay(row.laid);
		const std::vector<Block> before = blocks();
		aggregate_prefixes();
		apply_route_changes();
		EXPECT_EQ(blocks(), before);
		EXPECT_TRUE(fake_routing.calls.empty());
	}
}

TEST_F(AggregateTest, OutOfOrderListMergesByTheSameTests)
{
	// The second run 8/8 gap, 9/8, 10/8, 11/8 gap follows a first 10/8 listed, 11/8 gap:
	// it becomes 8/6 although 8/7 already stood earlier in the list.
	build({{ip(10, 0, 0, 0), 8}, {ip(9, 0, 0, 0), 8}, {ip(10, 0, 0, 0), 8}}, true);
	const std::vector<Block> before = blocks();
	const std::vector<Block> expected = replaced(before,
	    {listed(ip(10, 0, 0, 0), 8), gap(ip(11, 0, 0, 0), 8), gap(ip(8, 0, 0, 0), 8), listed(ip(9, 0, 0, 0), 8),
		listed(ip(10, 0, 0, 0), 8), gap(ip(11, 0, 0, 0), 8), gap(ip(12, 0, 0, 0), 6)},
	    {listed(ip(10, 0, 0, 0), 8), gap(ip(11, 0, 0, 0), 8), listed(ip(8, 0, 0, 0), 6), gap(ip(12, 0, 0, 0), 6)});
	aggregate_prefixes();
	apply_route_changes();
	EXPECT_EQ(blocks(), expected);
	EXPECT_EQ(made(), (std::vector<Made>{world(ip(8, 0, 0, 0), 8), world(ip(11, 0, 0, 0), 8)}));
}

TEST_F(AggregateTest, LastBlockReachingTheTopIsNeverAbsorbed)
{
	// 192/3 would absorb the last node 224/3 and cascade to 128/1, the new last node, which
	// gets no route: every Lanx prefix above 128.0.0.0 would go to the world.
	build({{ip(176, 0, 0, 0), 4}, {ip(192, 0, 0, 0), 4}, {ip(224, 0, 0, 0), 3}}, true);
	aggregate_prefixes();
	apply_route_changes();
	EXPECT_EQ(blocks(), (std::vector<Block>{ROOT, listed(ip(128, 0, 0, 0), 2), listed(ip(192, 0, 0, 0), 3),
				listed(ip(224, 0, 0, 0), 3)}));
	EXPECT_EQ(made(), (std::vector<Made>{world(ip(160, 0, 0, 0), 4), world(ip(208, 0, 0, 0), 4),
			      world(ip(128, 0, 0, 0), 3)}));
}

// --- What aggregation is for: every address goes where it went before ---

struct Route {
	uint32_t base;
	int32_t length;
	char gateway;	// 'L' lanx, 'W' world
};

// Plain longest-prefix match; no route means the world.
char gateway_for(const std::vector<Route>& routes, uint32_t address)
{
	int32_t best = -1;
	char gateway = 'W';
	for (const Route& r : routes) {
		if (r.length > best && (address & block_mask(r.length)) == r.base) {
			best = r.length;
			gateway = r.gateway;
		}
	}
	return gateway;
}

// Every listed block but the last node, through lanx.
std::vector<Route> lanx_routes()
{
	std::vector<Route> out;
	for (const PrefixNode* n = prefix_list.next; n != &prefix_list && n->next != &prefix_list; n = n->next)
		if (n->listed)
			out.push_back({n->base, n->length, 'L'});
	return out;
}

TEST_F(AggregateTest, GeneratedListsKeepEveryAddressOnItsGateway)
{
	std::mt19937 rng(7031);
	size_t merged_lists = 0, world_routes = 0;
	for (int set = 0; set < 400; set++) {
		const std::vector<Prefix> prefixes = generate(rng, ip(224, 0, 0, 0));
		std::string text = "set " + std::to_string(set) + ":";
		for (const Prefix& p : prefixes)
			text += " " + testing::PrintToString(Block{p.base, p.length, 1});
		SCOPED_TRACE(text);

		fake_routing_reset();
		build(prefixes, true);
		const std::vector<Block> before = blocks();
		const std::vector<Route> a = lanx_routes();
		aggregate_prefixes();
		apply_route_changes();
		const std::vector<Block> after = blocks();
		ASSERT_FALSE(after.empty());
		EXPECT_EQ(after.front(), ROOT);
		EXPECT_EQ(after.back(), TERMINATOR);

		std::vector<Route> b;
		for (const Made& m : made()) {
			EXPECT_EQ(m.if_index, 7u);
			EXPECT_EQ(m.next_hop, WORLD_GATEWAY);
			b.push_back({m.block.base, m.block.length, 'W'});
		}
		world_routes += b.size();
		merged_lists += after != before;
		const std::vector<Route> lanx = lanx_routes();
		b.insert(b.end(), lanx.begin(), lanx.end());

		std::vector<uint32_t> probes;
		for (const Block& blk : before) {
			const uint32_t end = static_cast<uint32_t>(blk.base + size64(blk.length));
			probes.insert(probes.end(), {blk.base, blk.base - 1, end, end - 1});
		}
		for (int i = 0; i < 200; i++)
			probes.push_back(static_cast<uint32_t>(rng()));
		for (uint32_t address : probes) {
			const char want = gateway_for(a, address), got = gateway_for(b, address);
			ASSERT_EQ(got, want) << "address " << testing::PrintToString(Block{address, 32, 0});
		}
	}
	// The generator must give the pass something to do.
	EXPECT_GT(merged_lists, 40u);
	EXPECT_GT(world_routes, 40u);
}

}  // namespace
