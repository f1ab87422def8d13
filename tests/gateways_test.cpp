// Gateway resolution: the subnet rule, the host-route fallback, kept indexes and the lines.
#include "common/log.h"
#include "common/settings.h"
#include "routes/gateways.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_line.h"
#include "common/control_word.h"
#include "platform/byte_order.h"
#include "tests/fake/fake_routing.h"
#include "tests/fake/test_log.h"

namespace {

uint32_t net(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
	return host_to_net(a << 24 | b << 16 | c << 8 | d);
}

AddressRow address(uint32_t addr, uint32_t mask, uint32_t index) { return {addr, index, mask}; }

RouteRow host_route(uint32_t dest, uint32_t if_index)
{
	RouteRow r{};
	r.dest = dest;
	r.mask = 0xFFFFFFFF;
	r.if_index = if_index;
	return r;
}

uint32_t word;

class GatewaysTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		word = 0;
		control_word = &word;
		test_log_start();
		fake_routing_reset();
		lanx_gateway = net(10, 0, 0, 1);
		world_gateway = net(192, 0, 2, 1);
		lanx_gateway_text = "10.0.0.1";
		world_gateway_text = "192.0.2.1";
		lanx_if = 0;
		world_if = 0;
	}

	// One resolution over the given tables, the address snapshot fetched from the fake.
	bool resolve(const std::vector<AddressRow>& addresses, std::vector<RouteRow> routes)
	{
		fake_routing.addresses = addresses;
		AddressSnapshot snapshot{};
		EXPECT_TRUE(fetch_address_snapshot(&snapshot));
		RouteSnapshot route_rows{static_cast<uint32_t>(routes.size()), routes.data()};
		bool ok = resolve_gateways(&snapshot, &route_rows);
		EXPECT_EQ(fake_routing.blocks_outstanding, 0) << "the address snapshot is released";
		EXPECT_EQ(snapshot.rows, nullptr);
		return ok;
	}
};

TEST_F(GatewaysTest, RulesChooseTheIndexes)
{
	struct Case {
		const char* what;
		uint32_t lanx_before, world_before;
		std::vector<AddressRow> addresses;
		std::vector<RouteRow> routes;
		uint32_t lanx_after, world_after;
		bool ok;
	} cases[] = {
		{"one subnet each", 0, 0,
		    {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2), address(net(192, 0, 2, 9), net(255, 255, 255, 0), 3)},
		    {}, 2, 3, true},
		{"two matching rows: the later wins", 0, 0,
		    {address(net(10, 0, 0, 2), net(255, 0, 0, 0), 4), address(net(10, 0, 0, 3), net(255, 255, 255, 0), 5),
			address(net(192, 0, 2, 9), net(255, 255, 255, 0), 3)},
		    {}, 5, 3, true},
		{"a mask 0.0.0.0 row matches both", 0, 0,
		    {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2), address(net(172, 16, 0, 1), 0, 8)},
		    {}, 8, 8, true},
		{"the subnet rule overwrites a kept index", 6, 6,
		    {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2)}, {}, 2, 6, true},
		{"host routes: the first one wins", 0, 0,
		    {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2)},
		    {host_route(net(192, 0, 2, 1), 11), host_route(net(192, 0, 2, 1), 12)}, 2, 11, true},
		{"a host route needs the whole mask", 0, 0,
		    {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2)},
		    {[] { RouteRow r = host_route(net(192, 0, 2, 1), 11); r.mask = net(255, 255, 255, 254); return r; }()},
		    2, 0, false},
		{"a kept index beats the host route", 4, 7, {}, {host_route(net(10, 0, 0, 1), 9)}, 4, 7, true},
		{"nothing matches: kept indexes do", 4, 7, {address(net(172, 16, 0, 1), net(255, 255, 0, 0), 8)}, {}, 4, 7, true},
		{"nothing at all", 0, 0, {}, {}, 0, 0, false},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		SetUp();
		lanx_if = c.lanx_before;
		world_if = c.world_before;
		EXPECT_EQ(resolve(c.addresses, c.routes), c.ok);
		EXPECT_EQ(lanx_if, c.lanx_after);
		EXPECT_EQ(world_if, c.world_after);
		EXPECT_EQ(test_log_text().empty(), c.ok) << "failure lines only on failure";
	}
}

TEST_F(GatewaysTest, FailureLinesNameTheGatewaysAsTyped)
{
	struct Case {
		const char* what;
		std::vector<AddressRow> addresses;
		const char* log;
	} cases[] = {
		{"neither: LANX first", {},
		    "Bad LANX gateway specified: 10.0.0.1\nBad WORLD gateway specified: 192.0.2.1\n"},
		{"lanx only missing", {address(net(192, 0, 2, 9), net(255, 255, 255, 0), 3)},
		    "Bad LANX gateway specified: 10.0.0.1\n"},
		{"world only missing", {address(net(10, 0, 0, 2), net(255, 255, 255, 0), 2)},
		    "Bad WORLD gateway specified: 192.0.2.1\n"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		SetUp();
		EXPECT_FALSE(resolve(c.addresses, {}));
		EXPECT_EQ(test_log_text(), c.log);
	}
}

TEST_F(GatewaysTest, ListingShowsGatewaysAndRowsEvenWhenResolutionFails)
{
	word = CW_SHOW_INTERFACES;
	EXPECT_FALSE(resolve({address(net(10, 0, 0, 2), net(255, 255, 255, 0), 26),
			       address(net(172, 16, 5, 1), net(255, 255, 0, 0), 3)},
	    {}));
	EXPECT_EQ(test_log_text(),
	    "10.0.0.1\n192.0.2.1\n"
	    "IF ID: 26(1a)\n10.0.0.2/255.255.255.0-> 1a\n"
	    "IF ID: 3(3)\n172.16.5.1/255.255.0.0-> 3\n"
	    "Bad WORLD gateway specified: 192.0.2.1\n");
}

TEST_F(GatewaysTest, PrintDottedWritesOctetsInOrder)
{
	struct Case {
		uint32_t address;
		const char* text;
	} cases[] = {
		{net(255, 255, 254, 0), "255.255.254.0"},
		{net(10, 1, 2, 3), "10.1.2.3"},
		{0, "0.0.0.0"},
		{0xFFFFFFFF, "255.255.255.255"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.text);
		test_log_start();
		print_dotted(c.address);
		EXPECT_EQ(test_log_text(), c.text);
	}
}

}  // namespace
