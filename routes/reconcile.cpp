// The search, the marks and the sweep of one cycle, and the batches of changes they make.
#include "routes/reconcile.h"

#include <algorithm>

#include "common/control_word.h"
#include "common/log.h"
#include "platform/byte_order.h"
#include "routes/gateways.h"
#include "routes/snapshots.h"

// Changes queued and not yet applied, a batch at most.
struct ChangeQueue {
	RouteChange changes[ROUTING_BATCH];
	RouteRow rows[ROUTING_BATCH];
	uint32_t statuses[ROUTING_BATCH];
	uint32_t count;
};

static ChangeQueue queue;

uint32_t route_changes_made;
uint32_t route_changes_failed;
uint32_t routes_of_ours;

void count_routes_of_ours()
{
	routes_of_ours = 0;
	for (uint32_t i = 0; i < route_snapshot.count; i++)
		if (route_snapshot.rows[i].proto == ROUTE_PROTO_NETMGMT)
			routes_of_ours++;
}

// A change applied: a created route is ours, a deleted one was, a re-pointed one is ours from then on.
static void follow_routes_of_ours(RouteChange change, const RouteRow* row)
{
	if (change == ROUTE_CREATE || (change == ROUTE_REWRITE && row->proto != ROUTE_PROTO_NETMGMT))
		routes_of_ours++;
	else if (change == ROUTE_DELETE && routes_of_ours > 0)
		routes_of_ours--;
}

// Each change's line starts with the operation character of its kind, indexed by RouteChange.
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
	for (uint32_t i = 0; i < queue.count; i++) {
		if (queue.statuses[i] != 0)
			route_changes_failed++;
		else
			follow_routes_of_ours(queue.changes[i], &queue.rows[i]);
		log_route_op(queue.statuses[i], CHANGE_OPS[queue.changes[i]], &queue.rows[i]);
	}
	route_changes_made += queue.count;
	queue.count = 0;
}

static void queue_change(RouteChange change, const RouteRow* row)
{
	if (queue.count == ROUTING_BATCH)
		apply_route_changes();
	queue.changes[queue.count] = change;
	queue.rows[queue.count] = *row;
	queue.count++;
}

// A row that is not a plain route of one next hop (blackhole, multipath ...) or that the system
// made itself (a connected route) is never re-pointed: its block counts as routed by it.
static bool fixed_row(const RouteRow* row)
{
	return row->type == ROUTE_TYPE_OTHER || row->proto == ROUTE_PROTO_LOCAL;
}

// The metric of the routes we create; another's row above it does not shadow ours.
static constexpr uint32_t OUR_METRIC = 1;

// Another's row above our metric is a backup: never taken, so ours is created beside it.
static constexpr uint32_t BACKUP_RANK = 4;

// Of the rows with one destination and mask, a block takes the one of lowest rank: one already
// on the wanted interface, then one of ours, then a fixed one, and only then another's that
// would shadow ours, so that an administrator's backup route is never rewritten into ours.
static uint32_t rank(const RouteRow* row, uint32_t if_index)
{
	if (row->if_index == if_index)
		return 0;
	if (row->proto == ROUTE_PROTO_NETMGMT)
		return 1;
	if (fixed_row(row))
		return 2;
	return row->metric1 <= OUR_METRIC ? 3 : BACKUP_RANK;
}

// The row the block takes, or null when only backups have its destination and mask.
static RouteRow* preferred_row(uint32_t found, uint32_t if_index)
{
	RouteRow* rows = route_snapshot.rows;
	uint32_t first = found, end = found + 1;
	while (first > 0 && rows[first - 1].dest == rows[found].dest && rows[first - 1].mask == rows[found].mask)
		first--;
	while (end < route_snapshot.count && rows[end].dest == rows[found].dest && rows[end].mask == rows[found].mask)
		end++;
	RouteRow* best = &rows[first];
	for (uint32_t i = first + 1; i < end; i++)
		if (rank(&rows[i], if_index) < rank(best, if_index))
			best = &rows[i];
	return rank(best, if_index) == BACKUP_RANK ? nullptr : best;
}

// Rows come by destination ascending (host order), then mask descending as stored.
static bool sorts_before(const RouteRow* row, uint32_t base, uint32_t mask)
{
	uint32_t dest = net_to_host(row->dest);
	return dest < base || (dest == base && row->mask > mask);
}

// Where the last search ended: every row before it sorted before that block.
static uint32_t search_start;

void ensure_route(const PrefixNode* block, uint32_t if_index, uint32_t next_hop)
{
	uint32_t dest = host_to_net(block->base);
	uint32_t mask = host_to_net(block_mask(block->length));
	RouteRow* rows = route_snapshot.rows;
	uint32_t count = route_snapshot.count;

	// Blocks mostly come in ascending order: start where the last search ended when every row
	// before it sorts before this block too, and double the step until a row does not.
	uint32_t lo = 0, hi = count;
	if (search_start > 0 && search_start <= count && sorts_before(&rows[search_start - 1], block->base, mask)) {
		uint32_t step = 1;
		for (lo = search_start; lo + step <= count && sorts_before(&rows[lo + step - 1], block->base, mask);
		     step *= 2)
			lo += step;
		hi = std::min(count, lo + step);
	}
	while (lo < hi) {
		uint32_t mid = lo + (hi - lo) / 2;
		RouteRow* row = &rows[mid];
		if (sorts_before(row, block->base, mask)) {
			lo = mid + 1;
		} else if (row->dest != dest || row->mask != mask) {
			hi = mid;
		} else {
			search_start = mid;
			row = preferred_row(mid, if_index);
			if (!row)
				break;
			row->age = MARK_KEEP;
			if (row->if_index != if_index && !fixed_row(row)) {
				if (control_word_has(CW_SHOW_CHANGES)) {
					apply_route_changes();
					log_route_op(if_index, 'i', row);
				}
				// The old next hop would not be on the new interface.
				row->if_index = if_index;
				row->next_hop = next_hop;
				row->age = MARK_UPDATE;
			}
			return;
		}
	}
	search_start = lo;

	RouteRow created{};
	created.dest = dest;
	created.mask = mask;
	created.next_hop = next_hop;
	created.if_index = if_index;
	created.type = ROUTE_TYPE_DIRECT;
	created.proto = ROUTE_PROTO_NETMGMT;
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
