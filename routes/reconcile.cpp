// The search, the marks and the sweep of one cycle, and the batches of changes they make.
#include "routes/reconcile.h"

#include "common/control_word.h"
#include "common/log.h"
#include "platform/byte_order.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"

// Changes queued and not yet applied; the operation character of each line follows its kind.
// A batch of this size keeps the platform's sends full while its rows stay a static 64 KiB.
static constexpr uint32_t BATCH_SIZE = 1024;

struct ChangeQueue {
	RouteChange changes[BATCH_SIZE];
	RouteRow rows[BATCH_SIZE];
	uint32_t statuses[BATCH_SIZE];
	uint32_t count;
};

static ChangeQueue queue;

// The line's character of each kind of change, indexed by RouteChange.
static constexpr char CHANGE_OPS[] = {'+', '*', '-'};

void log_route_op(uint32_t outcome, char op, const RouteRow* row)
{
	if (!control_word_has(CW_SHOW_CHANGES))
		return;
	log_write("%c", op);
	print_dotted(row->dest);
	log_write("/");
	print_dotted(row->mask);
	log_write("[%x]: %x\n", row->if_index, outcome);
}

void apply_route_changes()
{
	if (queue.count == 0)
		return;
	routing_apply(queue.changes, queue.rows, queue.count, queue.statuses);
	for (uint32_t i = 0; i < queue.count; i++)
		log_route_op(queue.statuses[i], CHANGE_OPS[queue.changes[i]], &queue.rows[i]);
	queue.count = 0;
}

static void queue_change(RouteChange change, const RouteRow* row)
{
	if (queue.count == BATCH_SIZE)
		apply_route_changes();
	queue.changes[queue.count] = change;
	queue.rows[queue.count] = *row;
	queue.count++;
}

void ensure_route(const PrefixNode* block, uint32_t if_index, uint32_t next_hop)
{
	uint32_t mask = host_to_net(block_mask(block->length));

	// Rows come by destination ascending (host order), then mask descending as stored.
	uint32_t lo = 0, hi = route_snapshot.count;
	while (lo < hi) {
		uint32_t mid = lo + (hi - lo) / 2;
		RouteRow* row = &route_snapshot.rows[mid];
		uint32_t dest = net_to_host(row->dest);
		if (dest > block->base) {
			hi = mid;
		} else if (dest < block->base) {
			lo = mid + 1;
		} else if (row->mask < mask) {
			hi = mid;
		} else if (row->mask > mask) {
			lo = mid + 1;
		} else {
			row->age = MARK_KEEP;
			if (row->if_index != if_index) {
				apply_route_changes();
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
	created.mask = mask;
	created.next_hop = next_hop;
	created.if_index = if_index;
	created.type = ROUTE_TYPE_DIRECT;
	created.proto = ROUTE_PROTO_NETMGMT;
	created.age = 0xFFFFFFFF;
	created.metric1 = 1;
	queue_change(ROUTE_CREATE, &created);
}

void sweep_routes()
{
	for (uint32_t i = 0; i < route_snapshot.count; i++) {
		RouteRow* row = &route_snapshot.rows[i];
		if (row->age == MARK_UPDATE) {
			queue_change(ROUTE_REWRITE, row);
			continue;
		}
		if (row->age == MARK_KEEP || row->dest == 0 || row->mask == 0xFFFFFFFF ||
		    row->type != ROUTE_TYPE_INDIRECT || row->proto != ROUTE_PROTO_NETMGMT ||
		    (row->if_index != lanx_if && row->if_index != world_if))
			continue;
		queue_change(ROUTE_DELETE, row);
	}
	apply_route_changes();
}
