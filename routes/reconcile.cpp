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
	uint32_t status = routing_create(&created);
	log_route_op(status, '+', &created);
}

// Writes back the re-pointed rows and deletes our stale routes on the two gateways' links.
static void sweep()
{
	for (uint32_t i = 0; i < route_snapshot.count; i++) {
		RouteRow* row = &route_snapshot.rows[i];
		if (row->age == MARK_UPDATE) {
			uint32_t status = routing_rewrite(row);
			log_route_op(status, '*', row);
			continue;
		}
		if (row->age == MARK_KEEP || row->dest == 0 || row->mask == 0xFFFFFFFF ||
		    row->type != ROUTE_TYPE_INDIRECT || row->proto != ROUTE_PROTO_NETMGMT ||
		    (row->if_index != lanx_if && row->if_index != world_if))
			continue;
		uint32_t status = routing_delete(row);
		log_route_op(status, '-', row);
	}
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

	if (control_word_has(CW_AGGREGATE))
		aggregate_prefixes();

	// The last node, normally the terminator, never gets a route.
	for (PrefixNode* n = prefix_list.next; n != &prefix_list && n != prefix_list.prev; n = n->next) {
		if (!n->listed)
			continue;
		if (control_word_has(CW_SHOW_LISTED))
			log_write("U%08x/%d\n", host_to_net(n->base), n->length);
		ensure_route(n, lanx_if, lanx_gateway);
	}

	sweep();
	release_route_snapshot(&route_snapshot);
	return 0;
}
