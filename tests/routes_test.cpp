// The routes of a cycle over the fake table: the gateways, the search with its marks and the sweep,
// the batches and their lines, aggregation, and whole cycles with their early ends.
#include <algorithm>
#include <random>
#include <regex>
#include <span>

#include "common/settings.h"
#include "control/status.h"
#include "routes/cycle.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/fake_process.h"
#include "tests/fake/fake_routing.h"
#include "tests/support.h"

#define BAD_LANX "Bad LANX gateway specified: 10.0.0.1\n"
#define LOADING "Loading subnet list from http://list.lanx.example/zo-list.txt\n  handles hi=1, hc=2, hr=3\n"
#define LEN_C "  len=c\n"
#define REPOINTED "i10.1.0.0/255.255.0.0[3]: 2\n*10.1.0.0/255.255.0.0[2]: 5\n1 of 1 route changes failed\n"

constexpr uint32_t LANX_IF = 2, WORLD_IF = 3, OTHER_IF = 0x1a;
constexpr uint8_t INDIRECT = ROUTE_TYPE_INDIRECT, DIRECT = ROUTE_TYPE_DIRECT, MULTIPATH = ROUTE_TYPE_OTHER;
constexpr uint8_t OURS = ROUTE_PROTO_NETMGMT, OTHER = ROUTE_PROTO_OTHER, LOCAL = ROUTE_PROTO_LOCAL;

// A fetched row, ours (p), indirect (t) and of metric (m) 0 unless told otherwise: the sweep may delete it.
RouteRow route(uint32_t dest, int32_t length, uint32_t if_index, uint8_t t = INDIRECT, uint8_t p = OURS, uint32_t m = 0)
{
	const uint32_t mask = host_to_net(block_mask(length));
	return {.dest = host_to_net(dest), .mask = mask, .if_index = if_index, .metric1 = m, .type = t, .proto = p};
}

// The subnets of the two gateways' links.
const AddressRow LANX_NET = {net(10, 0, 0, 2), LANX_IF, net(255, 255, 255, 0)};
const AddressRow WORLD_NET = {net(192, 0, 2, 2), WORLD_IF, LANX_NET.mask};

// Gateways 10.0.0.1 on link 2 and 192.0.2.1 on link 3, both indexes kept as given, an empty table.
void fresh_cycle(uint32_t flags, uint32_t kept = 0)
{
	start_test_log(flags);
	fake_routing = {.addresses = {LANX_NET, WORLD_NET}};
	lanx_gateway = net(10, 0, 0, 1);
	world_gateway = net(192, 0, 2, 1);
	lanx_gateway_text = "10.0.0.1";
	world_gateway_text = "192.0.2.1";
	lanx_if = world_if = kept;
}

// One row: gateways resolved over addresses and routes with both indexes kept from before; the
// indexes found (lanx, world) and the log.
void expect_resolve(const char* what, const std::vector<AddressRow>& rows, std::vector<RouteRow> table,
		    std::pair<uint32_t, uint32_t> found, uint32_t kept = 0, const char* log = "")
{
	SCOPED_TRACE(what);
	fresh_cycle(0, kept);
	fake_routing.addresses = rows;
	AddressSnapshot addresses;
	ASSERT_TRUE(fetch_address_snapshot(&addresses));
	RouteSnapshot routes = {static_cast<uint32_t>(table.size()), table.data()};
	EXPECT_EQ(resolve_gateways(&addresses, &routes), *log == '\0');
	release_address_snapshot(&addresses);
	EXPECT_EQ(std::pair(lanx_if, world_if), found);
	EXPECT_EQ(log_text(), log);
}

TEST(Gateways, ResolvedAfreshWithTheHostRouteFallback)
{
	const RouteRow lanx_host = route(ip(10, 0, 0, 1), 32, 11), world_host = route(ip(192, 0, 2, 1), 32, 13);
	const AddressRow elsewhere = {net(172, 16, 0, 1), 8, LANX_NET.mask};
	expect_resolve("the subnet rule before host routes", {WORLD_NET, LANX_NET}, {lanx_host, world_host}, {2, 3});
	expect_resolve("kept indexes serve when neither rule finds one", {elsewhere}, {}, {4, 4}, 4);
	expect_resolve("the first whole-mask host route beats a kept index", {},
		       {lanx_host, route(ip(10, 0, 0, 1), 31, 10), route(ip(10, 0, 0, 1), 32, 12), world_host},
		       {11, 13}, 4);
	expect_resolve("world missing", {LANX_NET}, {}, {2, 0}, 0, "Bad WORLD gateway specified: 192.0.2.1\n");
}

// One row: a whole cycle over list with routes fetched in search order, the fake's fetch failing at
// step of table ('r' or 'a', or 'l': the list is refused; 'g': no address on either subnet). The log
// after the download's handles line up to the result line (unsuccessful also after a count of failed
// changes), the changes in their batches (creations
// answered first), every block given back, the first change a creation of a direct row of ours,
// unmarked, of metric 1.
void expect_cycle(const char* what, const std::vector<RouteRow>& routes, const char* ops, const std::string& log,
		  uint32_t flags = CW_SHOW_CHANGES, const char* list = "10.1.0.0/16\n", char failing = 0,
		  FetchStep step = FETCH_SIZE)
{
	SCOPED_TRACE(what);
	fresh_cycle(flags);
	fake_http_serve(list);
	fake_http_status = failing == 'l' ? 404 : 200;
	fake_routing.routes = routes;
	fake_routing.addresses.resize(failing == 'g' ? 0 : 2);
	fake_routing.failing = failing;
	fake_routing.fail_step = step;
	fake_routing.statuses = {5, 0, 6, 0x1a};
	const bool refused = log.ends_with(" route changes failed\n");
	EXPECT_EQ(run_update_cycle(), failing || refused ? 1 : 0);
	EXPECT_EQ(fake_routing.ops, ops);
	const std::string result = failing || refused ? "unsuccessfully\n" : "successfully\n";
	EXPECT_EQ(log_text(), "Updating route table\n" LOADING + log + "Updated route table " + result);
	EXPECT_EQ(std::pair(fake_routing.blocks_outstanding, route_snapshot.count), std::pair(0, 0u)) << "all released";
	for (const RouteRow& r : std::span(fake_routing.rows).first(ops[0] == 'c'))
		EXPECT_EQ(std::tuple(r.type, r.proto, r.age, r.metric1), std::tuple(DIRECT, OURS, 0, 1u));
}

// Over the list 10.1.0.0/16.
TEST(Cycle, RowsTakenByPreferenceFixedRowsKeptOursSwept)
{
	const uint32_t B = ip(10, 1, 0, 0);
	const RouteRow others = route(B, 16, OTHER_IF, INDIRECT, OTHER), ours_world = route(B, 16, WORLD_IF);
	expect_cycle("the wanted link's row before ours", {others, ours_world, route(B, 16, LANX_IF, INDIRECT, OTHER)},
		     "d|", LEN_C "-10.1.0.0/255.255.0.0[3]: 5\n1 of 1 route changes failed\n");
	expect_cycle("ours before a fixed row and another's",
		     {others, route(B, 16, OTHER_IF, MULTIPATH, OTHER), ours_world}, "r|", LEN_C REPOINTED);
	expect_cycle("a kernel row before another's, kept", {others, route(B, 16, OTHER_IF, DIRECT, LOCAL)}, "", LEN_C);
	expect_cycle("of equals the first is taken", {ours_world, route(B, 16, OTHER_IF)}, "r|", LEN_C REPOINTED);
	expect_cycle("another's above our metric is a backup: left, ours created beside it",
		     {route(B, 16, WORLD_IF, INDIRECT, OTHER, 100)}, "c|",
		     LEN_C "+10.1.0.0/255.255.0.0[2]: 5\n1 of 1 route changes failed\n");
	expect_cycle("another's at our metric would shadow ours: re-pointed",
		     {route(B, 16, WORLD_IF, INDIRECT, OTHER, 1)}, "r|", LEN_C REPOINTED);
	expect_cycle("the sweep deletes our indirect rows on both links after the creation, no other",
		     {route(0, 8, LANX_IF), route(ip(10, 9, 0, 0), 16, LANX_IF), route(ip(10, 9, 0, 1), 32, LANX_IF),
		      route(ip(10, 10, 0, 0), 16, WORLD_IF), route(ip(10, 11, 0, 0), 16, LANX_IF, DIRECT),
		      route(ip(10, 12, 0, 0), 16, LANX_IF, INDIRECT, OTHER), route(ip(10, 13, 0, 0), 16, OTHER_IF)},
		     "cdd|",
		     LEN_C "+10.1.0.0/255.255.0.0[2]: 5\n-10.9.0.0/255.255.0.0[2]: 0\n-10.10.0.0/255.255.0.0[3]: 6\n"
			   "2 of 3 route changes failed\n");
}

TEST(Cycle, AllLinesOneOfAnotherKindAppliesTheQueuedFirst)
{
	expect_cycle("all lines",
		     {route(ip(10, 1, 0, 0), 16, OTHER_IF, INDIRECT, OTHER), route(ip(10, 8, 0, 0), 16, WORLD_IF)},
		     "c|crd|",
		     "  len=24\n\n\n10.0.5.0/24\n10.1.0.0/16\n10.2.1.0/24\n\n\n10.0.0.1\n192.0.2.1\nIF ID: 2(2)\n"
		     "10.0.0.2/255.255.255.0-> 2\nIF ID: 3(3)\n192.0.2.2/255.255.255.0-> 3\n"
		     "~10.1.0.0/255.255.0.0[1a]: 0\n~10.8.0.0/255.255.0.0[3]: "
		     "0\nU0005000a/24\n+10.0.5.0/255.255.255.0[2]: 5\n"
		     "U0000010a/16\ni10.1.0.0/255.255.0.0[1a]: 2\nU0001020a/24\n+10.2.1.0/255.255.255.0[2]: 0\n"
		     "*10.1.0.0/255.255.0.0[2]: 6\n-10.8.0.0/255.255.0.0[3]: 1a\n3 of 4 route changes failed\n",
		     CW_DUMP_LIST | CW_SHOW_CHANGES | CW_SHOW_LISTED | CW_DUMP_ROUTES | CW_SHOW_INTERFACES,
		     "10.0.5.0/24\n10.1.0.0/16\n10.2.1.0/24\n");
	expect_cycle("aggregated: the gap inside goes to the world", {}, "cc|",
		     "  len=24\n+10.0.1.128/255.255.255.128[3]: 5\n+10.0.0.0/255.255.252.0[2]: 0\n1 of 2 route changes "
		     "failed\n",
		     CW_AGGREGATE | CW_SHOW_CHANGES, "10.0.0.0/24\n10.0.1.0/25\n10.0.2.0/23\n");
}

// The status published after a cycle counts our routes through every change that was applied: one
// created and one refused, two of another's re-pointed and one of ours, ours deleted.
TEST(Cycle, StatusPublishedAfterIt)
{
	fresh_cycle(CW_SHOW_CHANGES);
	fake_http_serve("10.2.0.0/16\n10.4.0.0/16\n10.6.0.0/16\n10.8.0.0/16\n10.12.0.0/16\n");
	fake_routing.routes = {route(ip(10, 2, 0, 0), 16, OTHER_IF, INDIRECT, OTHER, 1),
			       route(ip(10, 6, 0, 0), 16, OTHER_IF, INDIRECT, OTHER, 1),
			       route(ip(10, 8, 0, 0), 16, WORLD_IF), route(ip(10, 9, 0, 0), 16, WORLD_IF)};
	fake_routing.statuses = {5};
	routes_of_ours = 99; // whatever an earlier cycle counted, this one counts from its table
	EXPECT_EQ(run_update_cycle(), 1);
	publish_cycle_status(1, 42, "Link", true);
	EXPECT_EQ(std::regex_replace(fake.published, std::regex("[0-9-]{10} [0-9:]{8} UTC"), "T"),
		  "flags: 0x10\nlanx gateway: 10.0.0.1 interface 2\nworld gateway: 192.0.2.1 interface 3\n"
		  "routes of ours: 4\nlast cycle: T, 42 ms, unsuccessful, 1 of 6 route changes failed\n"
		  "last download: 200, 61 bytes, validators none, last 200 at T\ndial-up link: Link up\n");
}

// One row: a cycle over the list 10.1.0.0/16 that ends early.
void expect_early_end(const char* what, char failing, FetchStep step, const std::string& log)
{
	expect_cycle(what, {}, "", LEN_C + log, CW_SHOW_CHANGES, "10.1.0.0/16\n", failing, step);
}

TEST(Cycle, EarlyEndsChangeNothing)
{
	expect_early_end("the list is refused: no table read", 'l', FETCH_SIZE, "List server answered 404\n");
	expect_early_end("route size query fails", 'r', FETCH_SIZE, "GetIpForwardTable(0): 0\n");
	expect_early_end("address fetch fails", 'a', FETCH_TABLE, "GetIpAddrTable(^): 0\n");
	expect_early_end("no gateway", 'g', FETCH_SIZE, BAD_LANX "Bad WORLD gateway specified: 192.0.2.1\n");
}

// Property: every row of a table fetched in any order is found by its destination and mask, so that
// ensuring each one's block creates nothing and leaves the sweep nothing to delete.
TEST(Reconcile, SearchFindsEveryRowOfATableFetchedInAnyOrder)
{
	std::mt19937 rng(11);
	for (int round = 0; round < 60; round++) {
		fresh_cycle(0, LANX_IF);
		// Rows under four destinations, of about half the lengths that keep them apart.
		for (uint32_t top : {0u, 10u, 100u, 200u})
			for (int32_t length = 8 + rng() % 2, dest = top << 24 | (rng() & 0xFFFFFF); length <= 32;
			     length += 1 + rng() % 2)
				fake_routing.routes.push_back(route(dest & block_mask(length), length, LANX_IF));
		std::shuffle(fake_routing.routes.begin(), fake_routing.routes.end(), rng);
		ASSERT_TRUE(fetch_route_snapshot(&route_snapshot));
		for (const RouteRow& r : fake_routing.routes) {
			const PrefixNode block = {net_to_host(r.dest), int8_t(std::popcount(r.mask)), 1, 0, 0};
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
char gateway_for(const std::vector<Route>& routes, uint32_t address)
{
	Route best = {0, -1, 'W'};
	for (const Route& r : routes)
		if (r.length > best.length && ((address ^ r.base) & block_mask(r.length)) == 0)
			best = r;
	return best.gateway;
}

// The routes one whole cycle makes over an empty table from list, with or without aggregation.
std::vector<Route> routes_made(const std::string& list, uint32_t flags)
{
	fresh_cycle(flags);
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
