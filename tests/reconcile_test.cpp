// The update cycle over the fake table: what is kept, re-pointed, created and deleted, the
// lines that say so, and the releases on every road out.
#include "common/settings.h"
#include "routes/reconcile.h"
#include "routes/cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "control/command_line.h"
#include "common/control_word.h"
#include "platform/byte_order.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/fake_routing.h"
#include "tests/fake/test_log.h"

namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
	return a << 24 | b << 16 | c << 8 | d;
}
uint32_t net(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return host_to_net(ip(a, b, c, d)); }
uint32_t net_mask(int32_t length) { return host_to_net(block_mask(length)); }

constexpr uint32_t LANX_IF = 2;
constexpr uint32_t WORLD_IF = 3;
constexpr uint32_t OTHER_IF = 0x1a;

// A fetched row; type and protocol default to those the sweep may delete.
RouteRow route(uint32_t dest, int32_t length, uint32_t if_index, uint32_t type = ROUTE_TYPE_INDIRECT,
    uint32_t proto = ROUTE_PROTO_NETMGMT)
{
	RouteRow r{};
	r.dest = host_to_net(dest);
	r.mask = net_mask(length);
	r.next_hop = net(192, 0, 2, 77);
	r.if_index = if_index;
	r.type = type;
	r.proto = proto;
	r.age = 1234;
	r.metric1 = 7;
	r.metric2 = 0xFFFFFFFF;
	r.fetched_if_index = if_index;
	r.fetched_next_hop = r.next_hop;
	return r;
}

std::string ops()
{
	std::string s;
	for (const FakeRouteCall& c : fake_routing.calls)
		s += c.op;
	return s;
}

// The cycle's own lines, without those of loading the list.
std::string route_lines()
{
	std::string log = test_log_text(), out;
	for (size_t at = 0; at < log.size();) {
		size_t end = log.find('\n', at);
		end = end == std::string::npos ? log.size() : end + 1;
		if (std::string("+-*i~U").find(log[at]) != std::string::npos)
			out += log.substr(at, end - at);
		at = end;
	}
	return out;
}

uint32_t word;

class ReconcileTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		word = CW_SHOW_CHANGES;
		control_word = &word;
		test_log_start();
		fake_routing_reset();
		fake_http_serve("");
		route_snapshot = {0, nullptr};
		lanx_gateway = net(10, 0, 0, 1);
		world_gateway = net(192, 0, 2, 1);
		lanx_gateway_text = "10.0.0.1";
		world_gateway_text = "192.0.2.1";
		lanx_if = 0;
		world_if = 0;
		fake_routing.addresses = {{net(10, 0, 0, 2), LANX_IF, net(255, 255, 255, 0)},
		    {net(192, 0, 2, 2), WORLD_IF, net(255, 255, 255, 0)}};
	}
	void TearDown() override
	{
		EXPECT_EQ(fake_routing.blocks_outstanding, 0) << "every fetched block is given back";
		reset_prefix_list();
	}
	// A table row's fresh start, after the checks on the row before.
	void next_case()
	{
		TearDown();
		SetUp();
	}
};

TEST_F(ReconcileTest, SweepKeepsOrDeletesEachRowByItsConditions)
{
	struct Case {
		const char* what;
		RouteRow row;
		bool deleted;
		const char* list = "";
	} cases[] = {
		{"our indirect route on the lanx link", route(ip(10, 9, 0, 0), 16, LANX_IF), true},
		{"our indirect route on the world link", route(ip(10, 9, 0, 0), 16, WORLD_IF), true},
		{"default route", route(0, 0, LANX_IF), false},
		{"destination 0 with a longer mask", route(0, 8, LANX_IF), false},
		{"host route", route(ip(10, 9, 0, 1), 32, LANX_IF), false},
		{"direct route", route(ip(10, 9, 0, 0), 16, LANX_IF, ROUTE_TYPE_DIRECT), false},
		{"other type (blackhole)", route(ip(10, 9, 0, 0), 16, LANX_IF, ROUTE_TYPE_OTHER), false},
		{"administrator's protocol", route(ip(10, 9, 0, 0), 16, LANX_IF, 4, ROUTE_PROTO_OTHER), false},
		{"a third interface", route(ip(10, 9, 0, 0), 16, OTHER_IF), false},
		{"listed, on the wanted interface: no call, no line", route(ip(10, 9, 0, 0), 16, LANX_IF), false,
		    "10.9.0.0/16\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		next_case();
		fake_http_serve(c.list);
		fake_routing.routes = {c.row};
		EXPECT_EQ(update_routes(), 0);
		if (c.deleted) {
			ASSERT_EQ(ops(), "d");
			EXPECT_EQ(std::memcmp(&fake_routing.calls[0].row, &c.row, sizeof c.row), 0)
			    << "deleted as fetched";
		} else {
			EXPECT_EQ(ops(), "");
			EXPECT_EQ(route_lines(), "");
		}
	}
}

TEST_F(ReconcileTest, RowOnAnotherInterfaceIsRepointedToTheGateway)
{
	fake_http_serve("10.1.0.0/16\n");
	RouteRow fetched = route(ip(10, 1, 0, 0), 16, OTHER_IF, ROUTE_TYPE_INDIRECT, ROUTE_PROTO_OTHER);
	fake_routing.routes = {fetched};
	EXPECT_EQ(update_routes(), 0);
	ASSERT_EQ(ops(), "r");
	RouteRow expected = fetched;
	expected.age = MARK_UPDATE;
	expected.if_index = LANX_IF;
	expected.next_hop = lanx_gateway;
	EXPECT_EQ(std::memcmp(&fake_routing.calls[0].row, &expected, sizeof expected), 0)
	    << "only the interface, the next hop and the mark change";
}

TEST_F(ReconcileTest, OfRowsWithOneDestinationAndMaskOnlyTheFoundOneIsKept)
{
	fake_http_serve("10.1.0.0/16\n");
	fake_routing.routes = {route(ip(10, 1, 0, 0), 16, LANX_IF), route(ip(10, 1, 0, 0), 16, LANX_IF),
	    route(ip(10, 1, 0, 0), 16, WORLD_IF)};
	for (uint32_t i = 0; i < 3; i++)
		fake_routing.routes[i].metric1 = 10 + i;
	EXPECT_EQ(update_routes(), 0);
	// Three rows: the search lands on the middle one first.
	ASSERT_EQ(ops(), "dd");
	EXPECT_EQ(fake_routing.calls[0].row.metric1, 10u);
	EXPECT_EQ(fake_routing.calls[1].row.metric1, 12u);
}

TEST_F(ReconcileTest, EmptySnapshotCreatesEveryListedBlock)
{
	fake_http_serve("10.0.0.0/23\n10.1.2.0/24\n");
	EXPECT_EQ(update_routes(), 0);
	ASSERT_EQ(ops(), "cc");
	EXPECT_EQ(route_lines(), "+10.0.0.0/255.255.254.0[2]: 0\n+10.1.2.0/255.255.255.0[2]: 0\n");
	RouteRow expected{};
	expected.dest = net(10, 0, 0, 0);
	expected.mask = net(255, 255, 254, 0);
	expected.next_hop = lanx_gateway;
	expected.if_index = LANX_IF;
	expected.type = ROUTE_TYPE_DIRECT;
	expected.proto = ROUTE_PROTO_NETMGMT;
	expected.age = 0xFFFFFFFF;
	expected.metric1 = 1;
	EXPECT_EQ(std::memcmp(&fake_routing.calls[0].row, &expected, sizeof expected), 0);
}

TEST_F(ReconcileTest, TheLastNodeNeverGetsARoute)
{
	fake_http_serve("255.255.255.0/25\n");
	EXPECT_EQ(update_routes(), 0);
	ASSERT_EQ(ops(), "c");
	EXPECT_EQ(fake_routing.calls[0].row.dest, net(255, 255, 255, 0));
	ASSERT_EQ(prefix_list.prev->base, 0xFFFFFFFFu);
	EXPECT_TRUE(prefix_list.prev->listed);
}

TEST_F(ReconcileTest, CreationsComeBeforeRewritesAndDeletions)
{
	fake_http_serve("10.1.0.0/16\n10.5.0.0/16\n10.7.0.0/16\n");
	fake_routing.routes = {route(ip(10, 1, 0, 0), 16, OTHER_IF), route(ip(10, 2, 0, 0), 16, LANX_IF),
	    route(ip(10, 7, 0, 0), 16, WORLD_IF)};
	EXPECT_EQ(update_routes(), 0);
	EXPECT_EQ(ops(), "crdr");
}

TEST_F(ReconcileTest, LinesFollowTheirControlBits)
{
	struct Case {
		const char* what;
		uint32_t word;
		const char* log;
	} cases[] = {
		{"changes only", CW_SHOW_CHANGES,
		    "i10.1.0.0/255.255.0.0[1a]: 2\n"
		    "+10.2.1.0/255.255.255.0[2]: 5\n"
		    "*10.1.0.0/255.255.0.0[2]: 6\n"
		    "-10.8.0.0/255.255.0.0[3]: 1a\n"},
		{"nothing shown; the table still changes", 0, ""},
		{"dump without changes writes nothing", CW_DUMP_ROUTES, ""},
		{"dump with changes, rows as fetched", CW_DUMP_ROUTES | CW_SHOW_CHANGES,
		    "~10.1.0.0/255.255.0.0[1a]: 0\n"
		    "~10.8.0.0/255.255.0.0[3]: 0\n"
		    "i10.1.0.0/255.255.0.0[1a]: 2\n"
		    "+10.2.1.0/255.255.255.0[2]: 5\n"
		    "*10.1.0.0/255.255.0.0[2]: 6\n"
		    "-10.8.0.0/255.255.0.0[3]: 1a\n"},
		{"listed blocks", CW_SHOW_LISTED, "U0000010a/16\nU0001020a/24\n"},
		{"listed blocks with their lines", CW_SHOW_LISTED | CW_SHOW_CHANGES,
		    "U0000010a/16\n"
		    "i10.1.0.0/255.255.0.0[1a]: 2\n"
		    "U0001020a/24\n"
		    "+10.2.1.0/255.255.255.0[2]: 5\n"
		    "*10.1.0.0/255.255.0.0[2]: 6\n"
		    "-10.8.0.0/255.255.0.0[3]: 1a\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		next_case();
		word = c.word;
		fake_http_serve("10.1.0.0/16\n10.2.1.0/24\n");
		fake_routing.routes = {route(ip(10, 1, 0, 0), 16, OTHER_IF), route(ip(10, 8, 0, 0), 16, WORLD_IF)};
		fake_routing.create_status = 5;
		fake_routing.rewrite_status = 6;
		fake_routing.delete_status = 0x1a;
		EXPECT_EQ(update_routes(), 0) << "failed changes do not fail the cycle";
		EXPECT_EQ(route_lines(), c.log);
		EXPECT_EQ(ops(), "crd");
	}
}

TEST_F(ReconcileTest, ListedBlocksTakeTheLanxGatewayOnASharedLink)
{
	// Both gateways on one link: the index alone cannot tell their routes apart.
	fake_routing.addresses = {{net(10, 0, 0, 2), LANX_IF, net(255, 0, 0, 0)}};
	world_gateway = net(10, 0, 0, 254);
	fake_routing.routes = {route(ip(10, 2, 0, 0), 16, OTHER_IF, ROUTE_TYPE_OTHER)};
	fake_http_serve("10.1.0.0/16\n10.2.0.0/16\n");
	EXPECT_EQ(update_routes(), 0);
	ASSERT_EQ(ops(), "cr");
	EXPECT_EQ(fake_routing.calls[0].row.next_hop, lanx_gateway);
	EXPECT_EQ(fake_routing.calls[1].row.next_hop, lanx_gateway);
	EXPECT_EQ(lanx_if, world_if);
}

TEST_F(ReconcileTest, EnsureRouteTakesTheNextHopItIsGiven)
{
	PrefixNode gap{ip(10, 1, 128, 0), 17, 0, nullptr, nullptr};
	ensure_route(&gap, WORLD_IF, world_gateway);
	apply_route_changes();
	ASSERT_EQ(ops(), "c");
	EXPECT_EQ(fake_routing.calls[0].row.next_hop, world_gateway);
	EXPECT_EQ(fake_routing.calls[0].row.if_index, WORLD_IF);
}

TEST_F(ReconcileTest, EarlyEndsReleaseWhatTheyTookAndTouchNothing)
{
	struct Case {
		const char* what;
		char fails;	// l: the list, r: the routes, a: the addresses, g: the gateways
		uint32_t status;
		FetchStep step;
		const char* log;
	} cases[] = {
		{"list read fails", 'l', 0, FETCH_SIZE, ""},
		{"route size query answers 0", 'r', 0, FETCH_SIZE, "GetIpForwardTable(0): 0\n"},
		{"route table grew", 'r', 122, FETCH_TABLE, "GetIpForwardTable(^): 122\n"},
		{"route block not allocated", 'r', 0, FETCH_MEMORY, ""},
		{"address size query", 'a', 87, FETCH_SIZE, "GetIpAddrTable(0): 87\n"},
		{"address fetch", 'a', 5, FETCH_TABLE, "GetIpAddrTable(^): 5\n"},
		{"address block not allocated", 'a', 0, FETCH_MEMORY, ""},
		{"no gateway resolves", 'g', 0, FETCH_SIZE,
		    "Bad LANX gateway specified: 10.0.0.1\nBad WORLD gateway specified: 192.0.2.1\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		next_case();
		fake_http_serve("10.1.0.0/16\n");
		if (c.fails == 'l') {
			FakeHttpPiece broken = fake_http_piece("10.1.");
			broken.read_ok = false;
			fake_http.pieces = {broken};
		}
		fake_routing.routes = {route(ip(10, 9, 0, 0), 16, LANX_IF)};
		fake_routing.routes_fail = c.fails == 'r';
		fake_routing.addresses_fail = c.fails == 'a';
		fake_routing.routes_status = fake_routing.addresses_status = c.status;
		fake_routing.routes_step = fake_routing.addresses_step = c.step;
		if (c.fails == 'g')
			fake_routing.addresses.clear();
		EXPECT_EQ(update_routes(), 1);
		EXPECT_EQ(ops(), "");
		EXPECT_EQ(route_snapshot.rows, nullptr);
		std::string log = test_log_text();
		EXPECT_NE(log.find(c.log), std::string::npos) << log;
		EXPECT_EQ(log.find("GetIp") != std::string::npos, std::string(c.log).find("GetIp") == 0);
	}
}

// The search against the documented order: every row of a generated table is found by its
// destination and mask, and blocks not in the table are created.
TEST_F(ReconcileTest, SearchFindsEveryRowOfASortedTable)
{
	std::mt19937 rng(7);
	for (int round = 0; round < 50; round++) {
		SCOPED_TRACE(round);
		fake_routing_reset();
		test_log_start();
		std::vector<RouteRow> rows;
		size_t n = rng() % 200;
		for (size_t i = 0; i < n; i++) {
			// Few distinct destinations, so that many rows share one with different masks.
			int32_t length = static_cast<int32_t>(rng() % 33);
			uint32_t dest = static_cast<uint32_t>(rng() % 8) << 24 & block_mask(length);
			rows.push_back(route(dest, length, LANX_IF));
			// A platform may hold masks that are not prefixes; the order is the stored value's.
			if (rng() % 4 == 0)
				rows.back().mask = static_cast<uint32_t>(rng());
		}
		std::sort(rows.begin(), rows.end(), [](const RouteRow& a, const RouteRow& b) {
			if (net_to_host(a.dest) != net_to_host(b.dest))
				return net_to_host(a.dest) < net_to_host(b.dest);
			return a.mask > b.mask;
		});
		route_snapshot = {static_cast<uint32_t>(rows.size()), rows.data()};
		lanx_if = LANX_IF;
		world_if = WORLD_IF;
		size_t creations = 0;
		for (int probe = 0; probe < 100; probe++) {
			int32_t length = static_cast<int32_t>(rng() % 33);
			PrefixNode block{static_cast<uint32_t>(rng() % 8) << 24 & block_mask(length), length, 1, nullptr, nullptr};
			bool present = std::any_of(rows.begin(), rows.end(), [&](const RouteRow& r) {
				return r.dest == host_to_net(block.base) && r.mask == net_mask(length);
			});
			ensure_route(&block, LANX_IF, lanx_gateway);
			apply_route_changes();
			creations += present ? 0 : 1;
			ASSERT_EQ(fake_routing.calls.size(), creations) << std::hex << block.base << "/" << length;
		}
		EXPECT_EQ(test_log_text().find('i'), std::string::npos);
		route_snapshot = {0, nullptr};
	}
}

}  // namespace
