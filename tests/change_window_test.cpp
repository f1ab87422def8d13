// Changes in flight during a cycle: each line keeps its place and its own status, whatever
// other lines come between, and every creation is answered before the sweep starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "control/command_line.h"
#include "control/control_word.h"
#include "platform/byte_order.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"
#include "routes/snapshots.h"
#include "tests/fake/fake_http.h"
#include "tests/fake/fake_routing.h"
#include "tests/fake/test_log.h"

namespace {

constexpr uint32_t LANX_IF = 2;
constexpr uint32_t WORLD_IF = 3;

uint32_t word;

std::string dotted(uint32_t host)
{
	char s[16];
	std::snprintf(s, sizeof s, "%u.%u.%u.%u", host >> 24, host >> 16 & 255, host >> 8 & 255, host & 255);
	return s;
}

std::string line(char op, uint32_t base, uint32_t if_index, uint32_t value)
{
	char s[80];
	std::snprintf(s, sizeof s, "%c%s/255.255.255.0[%x]: %x\n", op, dotted(base).c_str(), if_index, value);
	return s;
}

RouteRow row_of(uint32_t base, uint32_t if_index)
{
	RouteRow r{};
	r.dest = host_to_net(base);
	r.mask = host_to_net(0xFFFFFF00u);
	r.next_hop = host_to_net(0xC0000201u);
	r.if_index = if_index;
	r.type = ROUTE_TYPE_INDIRECT;
	r.proto = ROUTE_PROTO_NETMGMT;
	r.fetched_if_index = if_index;
	return r;
}

// The cycle's own lines, without those of loading the list.
std::string route_lines()
{
	std::string log = test_log_text(), out;
	for (size_t at = 0; at < log.size();) {
		size_t end = log.find('\n', at);
		end = end == std::string::npos ? log.size() : end + 1;
		if (std::string("+-*iU").find(log[at]) != std::string::npos)
			out += log.substr(at, end - at);
		at = end;
	}
	return out;
}

class ChangeWindowTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		control_word = &word;
		test_log_start();
		fake_routing_reset();
		route_snapshot = {0, nullptr};
		lanx_gateway = host_to_net(0x0A000001u);
		world_gateway = host_to_net(0xC0000201u);
		lanx_gateway_text = "10.0.0.1";
		world_gateway_text = "192.0.2.1";
		lanx_if = 0;
		world_if = 0;
		fake_routing.addresses = {{host_to_net(0x0A000002u), LANX_IF, host_to_net(0xFFFFFF00u)},
		    {host_to_net(0xC0000202u), WORLD_IF, host_to_net(0xFFFFFF00u)}};
	}
	void TearDown() override { reset_prefix_list(); }
};

// Generated cycles around and across the window: listed blocks that are new, present, or
// present on the world link, stale rows to delete, with and without the listed-block lines.
// The expected log is that of changes made one at a time.
TEST_F(ChangeWindowTest, LinesFollowTheOperationsWithTheirOwnStatuses)
{
	std::mt19937 rng(7);
	const int sizes[] = {0, 1, 2, ROUTING_WINDOW - 1, ROUTING_WINDOW, ROUTING_WINDOW + 1, 3 * ROUTING_WINDOW + 5, 400};
	for (int blocks : sizes) {
		for (bool show_listed : {false, true}) {
			SCOPED_TRACE(testing::Message() << blocks << " blocks, listed lines " << show_listed);
			SetUp();
			word = CW_SHOW_CHANGES | (show_listed ? CW_SHOW_LISTED : 0);
			std::string text, walk;
			std::vector<RouteRow> table;
			std::vector<char> want_ops;
			uint32_t calls = 0;
			// Every other /24, so that no two blocks fuse.
			for (int b = 0; b < blocks; b++) {
				uint32_t base = 0x14000000u + static_cast<uint32_t>(b) * 0x200;
				text += dotted(base) + "/24\n";
				if (show_listed) {
					char u[32];
					std::snprintf(u, sizeof u, "U%08x/24\n", host_to_net(base));
					walk += u;
				}
				switch (rng() % 4) {
				case 0:		// kept as it is
					table.push_back(row_of(base, LANX_IF));
					break;
				case 1:		// re-pointed: its line now, its rewrite in the sweep
					table.push_back(row_of(base, WORLD_IF));
					walk += line('i', base, WORLD_IF, LANX_IF);
					break;
				default:
					walk += line('+', base, LANX_IF, 0x100 + calls++);
					want_ops.push_back('c');
				}
				// A stale row of ours after some blocks.
				if (rng() % 5 == 0)
					table.push_back(row_of(0x1E000000u + static_cast<uint32_t>(b) * 0x100, LANX_IF));
			}
			std::sort(table.begin(), table.end(), [](const RouteRow& a, const RouteRow& b) {
				return net_to_host(a.dest) < net_to_host(b.dest);
			});
			std::string sweep;
			for (const RouteRow& r : table) {
				uint32_t base = net_to_host(r.dest);
				if (r.if_index == WORLD_IF) {
					sweep += line('*', base, LANX_IF, 0x100 + calls++);
					want_ops.push_back('r');
				} else if (base >= 0x1E000000u) {
					sweep += line('-', base, LANX_IF, 0x100 + calls++);
					want_ops.push_back('d');
				}
			}
			fake_routing.routes = table;
			for (uint32_t n = 0; n < calls; n++)
				fake_routing.statuses.push_back(0x100 + n);
			fake_http_serve(text.c_str());

			ASSERT_EQ(update_routes(), 0);
			EXPECT_EQ(route_lines(), walk + sweep);
			std::string ops;
			for (const FakeRouteCall& c : fake_routing.calls)
				ops += c.op;
			EXPECT_EQ(ops, std::string(want_ops.begin(), want_ops.end()));
			EXPECT_LE(fake_routing.most_unfinished, ROUTING_WINDOW);
		}
	}
}

// Without other lines between them, creations go out a window at a time; a line of another
// kind drains the window first, so nothing is left in flight across it.
TEST_F(ChangeWindowTest, WindowFillsUnlessAnotherLineComesBetween)
{
	struct Case {
		const char* what;
		uint32_t word;
		uint32_t most;
	} cases[] = {
		{"changes shown", CW_SHOW_CHANGES, ROUTING_WINDOW},
		{"no lines at all", 0, ROUTING_WINDOW},
		{"a listed-block line before every change", CW_SHOW_CHANGES | CW_SHOW_LISTED, 1},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.what);
		SetUp();
		word = c.word;
		std::string text;
		for (uint32_t b = 0; b < 2 * ROUTING_WINDOW + 3; b++)
			text += dotted(0x14000000u + b * 0x200) + "/24\n";
		fake_http_serve(text.c_str());
		ASSERT_EQ(update_routes(), 0);
		EXPECT_EQ(fake_routing.calls.size(), 2 * ROUTING_WINDOW + 3);
		EXPECT_EQ(fake_routing.most_unfinished, c.most);
	}
}

// Outside a cycle, ensure_route's line is written before it returns.
TEST_F(ChangeWindowTest, EnsureRouteAloneFinishesItsChange)
{
	word = CW_SHOW_CHANGES;
	lanx_if = LANX_IF;
	fake_routing.create_status = 0x50;
	PrefixNode block{0x14000000u, 24, 1, nullptr, nullptr};
	ensure_route(&block, LANX_IF, lanx_gateway);
	EXPECT_EQ(route_lines(), line('+', 0x14000000u, LANX_IF, 0x50));
	EXPECT_EQ(fake_routing.most_unfinished, 1u);
}

} // namespace
