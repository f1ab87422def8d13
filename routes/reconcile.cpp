#include "routes/reconcile.h"

#include "control/control_word.h"
#include "control/log.h"
#include "platform/byte_order.h"
#include "prefix/list_text.h"
#include "routes/aggregate.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"

void log_route_op(uint32_t value, char op, const RouteRow* row)
{
	if (!control_word_has(CW_SHOW_CHANGES))
		return;
	log_write("%c", op);
	print_dotted(row->dest);
	log_write("/");
	print_dotted(row->mask);
	log_write("[%x]: %x\n", row->if_index, value);
}

// Changes started and not yet finished, each with the line its status goes into. Within a
// cycle up to a window of them are in flight; outside one, each finishes before the call returns.
struct PendingChange {
	char op;
	RouteRow row;
};

static PendingChange pending[ROUTING_WINDOW];
static uint32_t pending_first, pending_count;
static uint32_t pending_limit = 1;

static void finish_oldest()
{
	PendingChange* p = &pending[pending_first];
	uint32_t status = routing_finish();
	log_route_op(status, p->op, &p->row);
	pending_first = (pending_first + 1) % ROUTING_WINDOW;
	pending_count--;
}

// Writes every outstanding line, so that a line of another kind keeps its place after them.
static void finish_changes()
{
	while (pending_count > 0)
		finish_oldest();
}

static void start_change(RouteChange change, char op, const RouteRow* row)
{
	if (pending_count == pending_limit)
		finish_oldest();
	PendingChange* p = &pending[(pending_first + pending_count) % ROUTING_WINDOW];
	p->op = op;
	p->row = *row;
	pending_count++;
	routing_start(change, row);
	if (pending_limit == 1)
		finish_changes();
}

void ensure_route(const PrefixNode* block, uint32_t if_index, uint32_t next_hop)
{
	uint32_t w = host_to_net(block_mask(block->length));

	// Rows come by destination ascending (host order), then mask descending as stored.
	uint32_t lo = 0, hi = route_snapshot.count;
	while (lo < hi) {
		uint32_t mid = lo + (hi - lo) / 2;
		RouteRow* row = &route_snapshot.rows[mid];
		uint32_t d = net_to_host(row->dest);
		if (d > block->base) {
			hi = mid;
		} else if (d < block->base) {
			lo = mid + 1;
		} else if (row->mask < w) {
			hi = mid;
		} else if (row->mask > w) {
			lo = mid + 1;
		} else {
			row->age = MARK_KEEP;
			if (row->if_index != if_index) {
				finish_changes();
				log_route_op(if_index, 'i', row);
				// The old next hop would not be on the new interface.
				row->if_index = if_index;
				row->next_hop = next_hop;
				row->age = MARK_UPDATE;
			}
			return;
		}
	}

	RouteRow created{};
	created.dest = host_to_net(block->base);
	created.mask = w;
	created.next_hop = next_hop;
	created.if_index = if_index;
	created.type = ROUTE_TYPE_DIRECT;
	created.proto = ROUTE_PROTO_NETMGMT;
	created.age = 0xFFFFFFFF;
	created.metric1 = 1;
	start_change(ROUTE_CREATE, '+', &created);
}

// Writes back the re-pointed rows and deletes our stale routes on the two gateways' links.
static void sweep()
{
	for (uint32_t i = 0; i < route_snapshot.count; i++) {
		RouteRow* row = &route_snapshot.rows[i];
		if (row->age == MARK_UPDATE) {
			start_change(ROUTE_REWRITE, '*', row);
			continue;
		}
		if (row->age == MARK_KEEP || row->dest == 0 || row->mask == 0xFFFFFFFF ||
		    row->type != ROUTE_TYPE_INDIRECT || row->proto != ROUTE_PROTO_NETMGMT ||
		    (row->if_index != lanx_if && row->if_index != world_if))
			continue;
		start_change(ROUTE_DELETE, '-', row);
	}
	finish_changes();
}

int update_routes()
{
	if (!load_prefix_list())
		return 1;
	if (!fetch_route_snapshot(&route_snapshot))
		return 1;
	AddressSnapshot addresses{};
	if (!fetch_address_snapshot(&addresses)) {
		release_route_snapshot(&route_snapshot);
		return 1;
	}
	if (!resolve_gateways(&addresses, &route_snapshot)) {
		release_route_snapshot(&route_snapshot);
		return 1;
	}

	if (control_word_has(CW_DUMP_ROUTES))
		for (uint32_t i = 0; i < route_snapshot.count; i++)
			log_route_op(0, '~', &route_snapshot.rows[i]);

	pending_limit = ROUTING_WINDOW;
	if (control_word_has(CW_AGGREGATE))
		aggregate_prefixes();

	// The last node, normally the terminator, never gets a route.
	for (PrefixNode* n = prefix_list.next; n != &prefix_list && n != prefix_list.prev; n = n->next) {
		if (!n->listed)
			continue;
		if (control_word_has(CW_SHOW_LISTED)) {
			finish_changes();
			log_write("U%08x/%d\n", host_to_net(n->base), n->length);
		}
		ensure_route(n, lanx_if, lanx_gateway);
	}
	// Every creation is done before the first rewrite or deletion.
	finish_changes();

	sweep();
	pending_limit = 1;
	release_route_snapshot(&route_snapshot);
	return 0;
}
