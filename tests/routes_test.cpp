// The routes of a cycle over the fake table: the gateways, the search with its marks and the sweep,
// the batches and their lines, aggregation, and whole cycles with their early ends.
#include <algorithm>
#include <random>
#include <span>

#include "common/settings.h"
#include "control/command_line.h"
#include "routes/cycle.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/fake_routing.h"
#include "tests/support.h"

constexpr uint32_t LANX_IF = 2, WORLD_IF = 3, OTHER_IF = 0x1a, INDIRECT = ROUTE_TYPE_INDIRECT,
		   OTHER = ROUTE_PROTO_OTHER;

// A fetched row, ours and indirect unless told otherwise: the sweep may delete it.
RouteRow route(uint32_t dest, int32_t length, uint32_t if_index, uint32_t type = INDIRECT,
	       uint32_t proto = ROUTE_PROTO_NETMGMT)
{
	return {host_to_net(dest),
		host_to_net(block_mask(length)),
		0,
		net(192, 0, 2, 77),
		if_index,
		type,
		proto,
		9,
		0,
		7,
		0,
		0,
		0,
		0,
		if_index,
		net(192, 0, 2, 77)};
}

// The subnets of the two gateways' links.
static const AddressRow LANX_NET = {net(10, 0, 0, 2), LANX_IF, net(255, 255, 255, 0)};
static const AddressRow WORLD_NET = {net(192, 0, 2, 2), WORLD_IF, LANX_NET.mask};

// Gateways 10.0.0.1 on link 2 and 192.0.2.1 on link 3, both indexes kept as given, an empty table.
static void fresh(uint32_t flags, uint32_t kept = 0)
{
	start_test_log(flags);
	fake_routing = {.addresses = {LANX_NET, WORLD_NET}};
	lanx_gateway = net(10, 0, 0, 1);
	world_gateway = net(192, 0, 2, 1);
	lanx_gateway_text = "10.0.0.1";
	world_gateway_text = "192.0.2.1";
	lanx_if = world_if = kept;
}

TEST(Gateways, ResolvedAfreshWithTheHostRouteFallbackAndA255LanxGatewayRefused)
{
	const RouteRow lanx_host = route(ip(10, 0, 0, 1), 32, 11), world_host = route(ip(192, 0, 2, 1), 32, 13);
	struct Case {
		const char* what;
		uint32_t kept, lanx_if, world_if;
		std::vector<AddressRow> addresses;
		std::vector<RouteRow> routes;
		const char* log;
	} cases[] = {
		{"the subnet rule before host routes", 0, 2, 3, {WORLD_NET, LANX_NET}, {lanx_host, world_host}, ""},
		{"a link re-made under a new index is found there",
		 2,
		 9,
		 3,
		 {{LANX_NET.addr, 9, LANX_NET.mask}, WORLD_NET},
		 {},
		 ""},
		{"kept indexes serve when neither rule finds one",
		 4,
		 4,
		 4,
		 {{net(172, 16, 0, 1), 8, LANX_NET.mask}},
		 {},
		 ""},
		{"the first whole-mask host route beats a kept index",
		 4,
		 11,
		 13,
		 {},
		 {lanx_host, route(ip(10, 0, 0, 1), 31, 10), route(ip(10, 0, 0, 1), 32, 12), world_host},
		 ""},
		{"world missing", 0, 2, 0, {LANX_NET}, {}, "Bad WORLD gateway specified: 192.0.2.1\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(0, c.kept);
		fake_routing.addresses = c.addresses;
		AddressSnapshot addresses;
		ASSERT_TRUE(fetch_address_snapshot(&addresses));
		RouteSnapshot routes = {static_cast<uint32_t>(c.routes.size()), const_cast<RouteRow*>(c.routes.data())};
		EXPECT_EQ(resolve_gateways(&addresses, &routes), *c.log == '\0');
		release_address_snapshot(&addresses);
		EXPECT_EQ(std::tuple(lanx_if, world_if), std::tuple(c.lanx_if, c.world_if)) << "indexes";
		EXPECT_EQ(log_text(), c.log);
	}
	// A 255.255.255.255 Lanx gateway is refused.
	fresh(0);
	lanx_gateway_text = world_gateway_text = nullptr;
	const char* argv[] = {"lanxroute", "255.255.255.255", "192.0.2.1"};
	EXPECT_EQ(parse_arguments(3, const_cast<char**>(argv)), 1);
}

// Whole cycles over the list 10.1.0.0/16 unless told otherwise, rows fetched in search order: the log
// compared whole, the changes in their batches (creations answered first), every fetched block given back.
TEST(Cycle, RowsTakenByPreferenceFixedRowsKeptOursSweptEarlyEndsChangeNothing)
{
	const uint32_t B = ip(10, 1, 0, 0);
	const RouteRow others = route(B, 16, OTHER_IF, INDIRECT, OTHER), ours_world = route(B, 16, WORLD_IF);
	const char* const REPOINTED = "  len=c\ni10.1.0.0/255.255.0.0[3]: 2\n*10.1.0.0/255.255.0.0[2]: 5\n";
	// The log after the download's handles line, up to the result line. failing: 'r' or 'a' as the fake's;
	// 'g': no address on either gateway's subnet.
	struct Case {
		const char* what;
		std::vector<RouteRow> routes;
		const char* ops;
		std::string log;
		char failing = 0;
		FetchStep step = FETCH_SIZE;
		const char* list = "10.1.0.0/16\n";
		uint32_t flags = CW_SHOW_CHANGES;
	} cases[] = {
		{"the row on the wanted link before ours",
		 {others, ours_world, route(B, 16, LANX_IF, INDIRECT, OTHER)},
		 "d|",
		 "  len=c\n-10.1.0.0/255.255.0.0[3]: 5\n"},
		{"ours before a fixed row and another's",
		 {others, route(B, 16, OTHER_IF, 1, OTHER), ours_world},
		 "r|",
		 REPOINTED},
		{"a kernel row before another's, never re-pointed",
		 {others, route(B, 16, OTHER_IF, 3, 2)},
		 "",
		 "  len=c\n"},
		{"a multipath row of ours is fixed", {route(B, 16, OTHER_IF, ROUTE_TYPE_OTHER)}, "", "  len=c\n"},
		{"another's alone is re-pointed",
		 {others},
		 "r|",
		 "  len=c\ni10.1.0.0/255.255.0.0[1a]: 2\n*10.1.0.0/255.255.0.0[2]: 5\n"},
		{"of equals the first is taken", {ours_world, route(B, 16, OTHER_IF)}, "r|", REPOINTED},
		{"the sweep deletes our indirect rows on both links after the creation, no other",
		 {route(0, 8, LANX_IF), route(ip(10, 9, 0, 0), 16, LANX_IF), route(ip(10, 9, 0, 1), 32, LANX_IF),
		  route(ip(10, 10, 0, 0), 16, WORLD_IF), route(ip(10, 11, 0, 0), 16, LANX_IF, 3),
		  route(ip(10, 12, 0, 0), 16, LANX_IF, INDIRECT, OTHER), route(ip(10, 13, 0, 0), 16, OTHER_IF)},
		 "cdd|",
		 "  len=c\n+10.1.0.0/255.255.0.0[2]: 5\n-10.9.0.0/255.255.0.0[2]: 0\n-10.10.0.0/255.255.0.0[3]: 6\n"},
		{"all lines; one of another kind applies the queued first",
		 {others, route(ip(10, 8, 0, 0), 16, WORLD_IF)},
		 "c|crd|",
		 "  len=24\n10.0.0.1\n192.0.2.1\nIF ID: 2(2)\n10.0.0.2/255.255.255.0-> 2\nIF ID: "
		 "3(3)\n192.0.2.2/255.255.255.0-> 3\n"
		 "~10.1.0.0/255.255.0.0[1a]: 0\n~10.8.0.0/255.255.0.0[3]: 0\nU0005000a/24\n+10.0.5.0/255.255.255.0[2]: "
		 "5\n"
		 "U0000010a/16\ni10.1.0.0/255.255.0.0[1a]: 2\nU0001020a/24\n+10.2.1.0/255.255.255.0[2]: 0\n"
		 "*10.1.0.0/255.255.0.0[2]: 6\n-10.8.0.0/255.255.0.0[3]: 1a\n",
		 0,
		 FETCH_SIZE,
		 "10.0.5.0/24\n10.1.0.0/16\n10.2.1.0/24\n",
		 CW_SHOW_CHANGES | CW_SHOW_LISTED | CW_DUMP_ROUTES | CW_SHOW_INTERFACES},
		{"aggregated: the gap inside goes to the world",
		 {},
		 "cc|",
		 "  len=24\n+10.0.1.128/255.255.255.128[3]: 5\n+10.0.0.0/255.255.252.0[2]: 0\n",
		 0,
		 FETCH_SIZE,
		 "10.0.0.0/24\n10.0.1.0/25\n10.0.2.0/23\n",
		 CW_AGGREGATE | CW_SHOW_CHANGES},
		{"the list fails to download: the table is not read",
		 {},
		 "",
		 "  len=c\nList server answered 404\n",
		 'l'},
		{"route size query fails", {}, "", "  len=c\nGetIpForwardTable(0): 0\n", 'r', FETCH_SIZE},
		{"route fetch fails", {}, "", "  len=c\nGetIpForwardTable(^): 0\n", 'r', FETCH_TABLE},
		{"route block not allocated", {}, "", "  len=c\n", 'r', FETCH_MEMORY},
		{"address size query fails", {}, "", "  len=c\nGetIpAddrTable(0): 0\n", 'a', FETCH_SIZE},
		{"address fetch fails", {}, "", "  len=c\nGetIpAddrTable(^): 0\n", 'a', FETCH_TABLE},
		{"no gateway",
		 {},
		 "",
		 "  len=c\nBad LANX gateway specified: 10.0.0.1\nBad WORLD gateway specified: 192.0.2.1\n",
		 'g'},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		fresh(c.flags);
		fake_http_serve(c.list);
		fake_http_status = c.failing == 'l' ? 404 : 200;
		fake_routing = {.routes = c.routes,
				.addresses = c.failing == 'g' ? std::vector<AddressRow>{} : fake_routing.addresses,
				.failing = c.failing,
				.fail_step = c.step,
				.statuses = {5, 0, 6, 0x1a}};
		EXPECT_EQ(run_update_cycle(), c.failing ? 1 : 0);
		EXPECT_EQ(fake_routing.ops, c.ops);
		EXPECT_EQ(log_text(),
			  "Updating route table\nLoading subnet list from http://list.lanx.example/zo-list.txt\n"
			  "  handles hi=1, hc=2, hr=3\n" +
				  c.log +
				  (c.failing ? "Updated route table unsuccessfully\n"
					     : "Updated route table successfully\n"));
		EXPECT_EQ(std::tuple(fake_routing.blocks_outstanding, route_snapshot.count), std::tuple(0, 0u))
			<< "all released";
		// The first change a creation: its row direct, ours, of no age limit, metric 1.
		for (const RouteRow& r : std::span(fake_routing.rows).first(c.ops[0] == 'c'))
			EXPECT_EQ(std::tuple(r.type, r.proto, r.age, r.metric1),
				  std::tuple(ROUTE_TYPE_DIRECT, ROUTE_PROTO_NETMGMT, ~0u, 1u));
	}
}

// Property: every row of a table fetched in any order is found by its destination and mask, so that
// ensuring each one's block creates nothing and leaves the sweep nothing to delete.
TEST(Reconcile, SearchFindsEveryRowOfATableFetchedInAnyOrder)
{
	std::mt19937 rng(11);
	for (int round = 0; round < 60; round++) {
		fresh(0, LANX_IF);
		// Rows under four destinations, of about half the lengths that keep them apart.
		for (uint32_t top : {0u, 10u, 100u, 200u})
			for (int32_t length = 8 + rng() % 2, dest = top << 24 | (rng() & 0xFFFFFF); length <= 32;
			     length += 1 + rng() % 2)
				fake_routing.routes.push_back(route(dest & block_mask(length), length, LANX_IF));
		std::shuffle(fake_routing.routes.begin(), fake_routing.routes.end(), rng);
		ASSERT_TRUE(fetch_route_snapshot(&route_snapshot));
		for (const RouteRow& r : fake_routing.routes) {
			const PrefixNode block = {net_to_host(r.dest), std::popcount(r.mask), 1, nullptr, nullptr};
			ensure_route(&block, LANX_IF, lanx_gateway);
		}
		sweep_routes();
		release_route_snapshot(&route_snapshot);
		EXPECT_EQ(fake_routing.ops, "");
	}
}

struct Route {
	uint32_t base;
	int32_t length;
	char gateway;
};

// Plain longest-prefix match over routes; no route means the world.
static char gateway_for(const std::vector<Route>& routes, uint32_t address)
{
	Route best = {0, -1, 'W'};
	for (const Route& r : routes)
		if (r.length > best.length && ((address ^ r.base) & block_mask(r.length)) == 0)
			best = r;
	return best.gateway;
}

// The routes one whole cycle makes over an empty table from list, with or without aggregation.
static std::vector<Route> routes_made(const std::string& list, uint32_t flags)
{
	fresh(flags);
	fake_http_serve(list.c_str());
	EXPECT_EQ(update_routes(), 0);
	std::vector<Route> out;
	for (const RouteRow& r : fake_routing.rows)
		out.push_back({net_to_host(r.dest), std::popcount(r.mask), r.if_index == LANX_IF ? 'L' : 'W'});
	return out;
}

// Property: aggregation keeps every address on its gateway: a longest-prefix match over the routes
// a cycle makes with CW_AGGREGATE agrees with one over those it makes without.
TEST(Aggregate, EveryAddressKeepsItsGateway)
{
	std::mt19937 rng(5);
	for (int round = 0; round < 300; round++) {
		// /22 to /24 blocks in 10.0.0.0/16 or 255.255.0.0/16 (up to the top), mostly side by side.
		std::string list;
		for (uint64_t base = round % 2 ? ip(10, 0, 0, 0) : ip(255, 255, 0, 0), at = base, size; rng() % 16;
		     at += size) {
			const uint32_t length = 22 + rng() % 3;
			size = block_size(length);
			at = ((at + size - 1) & ~(size - 1)) + (rng() % 4 ? 0 : size);
			if (at + size > base + 0x10000)
				break;
			list += (round % 2 ? "10.0." : "255.255.") + std::to_string(at >> 8 & 255) + ".0/" +
				std::to_string(length) + "\n";
		}
		const std::vector<Route> before = routes_made(list, 0), after = routes_made(list, CW_AGGREGATE);
		for (const Route& r : before)
			for (uint32_t address :
			     {r.base - 1, r.base, r.base + block_size(r.length) - 1, r.base + block_size(r.length)})
				ASSERT_EQ(gateway_for(after, address), gateway_for(before, address))
					<< std::hex << address << " in\n"
					<< list;
	}
}
