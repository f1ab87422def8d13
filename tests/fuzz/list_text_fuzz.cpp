// Any bytes as list text: parsed into a fresh list as the loader builds it, then aggregated
// over an empty table. The links must hold for every input; ascending, well-formed input must
// also give the ordered partition, and aggregation must keep the root and the last node.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/settings.h"
#include "common/control_word.h"
#include "common/log.h"
#include "platform/byte_order.h"
#include "prefix/list_text.h"
#include "prefix/prefix_list.h"
#include "routes/aggregate.h"
#include "routes/reconcile.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"
#include "tests/fake/fake_routing.h"

namespace {

uint32_t word;

[[noreturn]] void fail(const char* what)
{
	std::fprintf(stderr, "list_text_fuzz: %s\n", what);
	std::abort();
}

struct Range {
	uint64_t first;
	uint64_t last;
};

uint64_t size_of(int32_t length)
{
	return uint64_t{1} << (32 - length);
}

// Walks the list both ways; returns the node count. Bounded, so a cycle is caught.
size_t check_links(size_t bound)
{
	size_t count = 0;
	const PrefixNode* prev = &prefix_list;
	for (const PrefixNode* n = prefix_list.next; n != &prefix_list; n = n->next) {
		if (n->prev != prev)
			fail("a node's prev is not the node before it");
		if (n->length < 0 || n->length > 32)
			fail("a node's length is outside 0..32");
		if (++count > bound)
			fail("the list is longer than its prefixes allow");
		prev = n;
	}
	if (prefix_list.prev != prev)
		fail("the sentinel's prev is not the last node");
	if (prefix_list.base != 0 || prefix_list.length != 0 || prefix_list.listed != 0)
		fail("the sentinel changed");
	return count;
}

// One strict "a.b.c.d/len" line: decimal octets 0..255, a length 0..32, then "\r", "\n" or
// the end. Returns the position after the line, or null.
const uint8_t* strict_line(const uint8_t* p, const uint8_t* end, uint32_t* base, int32_t* length)
{
	uint32_t address = 0;
	for (int i = 0; i < 5; i++) {
		uint32_t value = 0;
		int digits = 0;
		while (p < end && *p >= '0' && *p <= '9' && digits < 4) {
			value = value * 10 + (*p++ - '0');
			digits++;
		}
		if (digits == 0 || digits == 4 || value > (i < 4 ? 255u : 32u))
			return nullptr;
		if (i < 4) {
			address = address << 8 | value;
			if (p == end || *p++ != (i < 3 ? '.' : '/'))
				return nullptr;
		} else {
			*length = static_cast<int32_t>(value);
		}
	}
	*base = address;
	if (p < end && *p == '\r')
		p++;
	if (p < end && *p != '\n')
		return nullptr;
	return p;
}

// The prefixes of text when every line that starts with a digit is strict, has no host bits
// and no lower base than the one before; false otherwise.
bool ascending_prefixes(const uint8_t* text, size_t size, std::vector<Range>* prefixes)
{
	const uint8_t* end = static_cast<const uint8_t*>(std::memchr(text, 0, size));
	if (end == nullptr)
		end = text + size;
	uint64_t last_base = 0;
	for (const uint8_t* p = text; p < end;) {
		if (*p >= '0' && *p <= '9') {
			uint32_t base;
			int32_t length;
			p = strict_line(p, end, &base, &length);
			if (p == nullptr || (base & (size_of(length) - 1)) != 0 || base < last_base)
				return false;
			last_base = base;
			prefixes->push_back({base, base + size_of(length) - 1});
		}
		const uint8_t* eol = static_cast<const uint8_t*>(std::memchr(p, '\n', end - p));
		p = eol == nullptr ? end : eol + 1;
	}
	return true;
}

// Sorted ranges joined where they overlap or touch.
std::vector<Range> joined(const std::vector<Range>& ranges)
{
	std::vector<Range> out;
	for (const Range& r : ranges) {
		if (!out.empty() && r.first <= out.back().last + 1) {
			if (r.last > out.back().last)
				out.back().last = r.last;
		} else {
			out.push_back(r);
		}
	}
	return out;
}

// The partition promised for ascending input, checked block by block.
void check_shape(const std::vector<Range>& prefixes)
{
	const PrefixNode* root = prefix_list.next;
	if (root->base != 0 || root->length != 0 || root->listed)
		fail("the head is not the root node");
	uint64_t expect = prefixes.front().first < 0x80000000u ? 0 : 0x80000000u;
	std::vector<Range> listed;
	const PrefixNode* before = nullptr;
	uint64_t hole_end = 0;
	for (const PrefixNode* n = root->next; n != &prefix_list; n = n->next) {
		uint64_t size = size_of(n->length);
		if (n->base != expect)
			fail("a block does not start where the one before it ends");
		if ((n->base & (size - 1)) != 0)
			fail("a block is not aligned");
		expect += size;
		if (n->listed) {
			listed.push_back({n->base, n->base + size - 1});
			if (before && before->listed && before->length == n->length &&
			    (before->base & size) == 0)
				fail("two listed halves of one block stand side by side");
		} else {
			// The largest aligned block that starts here and fits the hole.
			if (!before || before->listed) {
				const PrefixNode* m = n;
				while (m != &prefix_list && !m->listed)
					m = m->next;
				hole_end = m == &prefix_list ? uint64_t{1} << 32 : m->base;
			}
			uint64_t best = uint64_t{1} << 31;
			while ((n->base & (best - 1)) != 0 || n->base + best > hole_end)
				best >>= 1;
			if (size != best)
				fail("a gap run is not the fewest aligned blocks");
		}
		before = n;
	}
	if (expect != uint64_t{1} << 32)
		fail("the blocks do not end at 255.255.255.255");
	if (!prefix_list.prev->listed)
		fail("the last node is not listed");
	if (joined(listed).size() != prefixes.size())
		goto differ;
	for (size_t i = 0; i < prefixes.size(); i++) {
		Range want = prefixes[i];
		Range got = joined(listed)[i];
		if (want.first != got.first || want.last != got.last)
			goto differ;
	}
	return;
differ:
	fail("the listed blocks do not cover exactly the prefixes given");
}

// Where an address goes: a world route of an absorbed gap first (those lie inside the final
// listed blocks), then the partition block holding it: listed and not the last node is Lanx.
struct Routing {
	std::vector<uint32_t> starts;	// partition block bases, ascending
	std::vector<char> gateway;
	std::vector<Range> world;	// absorbed gaps, ascending after sorting
};

Routing routing_of_list()
{
	Routing r;
	for (const PrefixNode* n = prefix_list.next->next; n != &prefix_list; n = n->next) {
		r.starts.push_back(n->base);
		r.gateway.push_back(n->listed && n != prefix_list.prev ? 'L' : 'W');
	}
	return r;
}

char gateway_of(const Routing& r, uint32_t address)
{
	auto w = std::upper_bound(r.world.begin(), r.world.end(), address,
	    [](uint32_t a, const Range& g) { return a < g.first; });
	if (w != r.world.begin() && address <= (w - 1)->last)
		return 'W';
	auto b = std::upper_bound(r.starts.begin(), r.starts.end(), address);
	if (b == r.starts.begin())
		return 'W';
	return r.gateway[static_cast<size_t>(b - r.starts.begin()) - 1];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	log_stream = std::fopen("/dev/null", "w");
	control_word = &word;
	world_if = 2;
	world_gateway = 0x0100000a;
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	// An exact block, so a scan past the end mark is caught.
	char* text = static_cast<char*>(std::malloc(size + 1));
	if (size)
		std::memcpy(text, data, size);
	text[size] = '\0';

	reset_prefix_list();
	if (append_node(0, 0, 0) == nullptr || !parse_list_text(text) || !add_prefix(0xFFFFFFFFu, 32))
		fail("ran out of memory");
	std::free(text);

	size_t lines = 1;
	for (size_t i = 0; i < size; i++)
		lines += data[i] == '\n';
	// Each add_prefix appends at most 63 nodes; one call per line and one for the terminator.
	check_links(1 + 63 * (lines + 1));

	std::vector<Range> prefixes;
	bool ascending = ascending_prefixes(data, size, &prefixes);
	prefixes.push_back({0xFFFFFFFFu, 0xFFFFFFFFu});
	if (ascending)
		check_shape(joined(prefixes));

	const PrefixNode* root = prefix_list.next;
	const PrefixNode* last = prefix_list.prev;
	PrefixNode last_before = *last;

	Routing before = routing_of_list();

	fake_routing_reset();
	route_snapshot = RouteSnapshot{0, nullptr};
	word = (size & 1) ? CW_SHOW_CHANGES : 0;
	aggregate_prefixes();
	apply_route_changes();
	check_links(1 + 63 * (lines + 1));

	if (prefix_list.next != root || root->base != 0 || root->length != 0 || root->listed)
		fail("aggregation changed the root node");
	for (const FakeRouteCall& c : fake_routing.calls)
		if (c.op != 'c' || c.row.if_index != world_if || c.row.next_hop != world_gateway)
			fail("aggregation routed a gap other than through the world gateway");
	// The last node never gets a route, so it never takes part in a merge.
	if (prefix_list.prev != last || last->base != last_before.base ||
	    last->length != last_before.length || !last->listed)
		fail("aggregation changed the last node");
	if (ascending) {
		// Merging keeps the partition; only which blocks are listed changes.
		uint64_t expect = root->next->base;
		for (const PrefixNode* n = root->next; n != &prefix_list; n = n->next) {
			uint64_t size = size_of(n->length);
			if (n->base != expect || (n->base & (size - 1)) != 0)
				fail("aggregation broke the partition");
			expect += size;
		}
		if (expect != uint64_t{1} << 32)
			fail("aggregation lost the end of the address space");

		// What aggregation is for: every address keeps its gateway.
		Routing after = routing_of_list();
		for (const FakeRouteCall& c : fake_routing.calls) {
			uint32_t base = net_to_host(c.row.dest);
			after.world.push_back({base, base + (~net_to_host(c.row.mask) & 0xFFFFFFFFu)});
		}
		std::sort(after.world.begin(), after.world.end(),
		    [](const Range& a, const Range& b) { return a.first < b.first; });
		for (uint32_t start : before.starts)
			for (uint32_t address : {start, start - 1})
				if (gateway_of(before, address) != gateway_of(after, address))
					fail("aggregation moved an address to the other gateway");
	}
	return 0;
}
