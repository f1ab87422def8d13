#include "routes/cycle.h"

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "platform/byte_order.h"
#include "prefix/list_text.h"
#include "routes/aggregate.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"
#include "routes/snapshots.h"

int update_routes()
{
	route_changes_made = 0;
	route_changes_failed = 0;
	if (!load_prefix_list())
		return 1;
	if (!fetch_route_snapshot(&route_snapshot))
		return 1;
	count_routes_of_ours();
	AddressSnapshot addresses{};
	bool resolved = fetch_address_snapshot(&addresses) && resolve_gateways(&addresses, &route_snapshot);
	release_address_snapshot(&addresses);

	if (resolved) {
		if (control_word_has(CW_DUMP_ROUTES))
			for (uint32_t i = 0; i < route_snapshot.count; i++)
				log_route_op(0, '~', &route_snapshot.rows[i]);

		if (control_word_has(CW_AGGREGATE))
			aggregate_prefixes();

		// The last node, normally the terminator, never gets a route.
		PrefixNode* last = node_at(prefix_list.prev);
		for (PrefixNode* node = next_node(&prefix_list); node != &prefix_list && node != last;
		     node = next_node(node)) {
			if (!node->listed)
				continue;
			if (control_word_has(CW_SHOW_LISTED)) {
				apply_route_changes();
				log_write("U%08x/%d\n", host_to_net(node->base), node->length);
			}
			ensure_route(node, lanx_if, lanx_gateway);
		}

		// Creations were queued first, so every one is applied before the first rewrite or deletion.
		sweep_routes();
	}
	release_route_snapshot(&route_snapshot);
	// Every change that could be applied was; a refused one still fails the cycle.
	if (route_changes_failed != 0) {
		log_write("%u of %u route changes failed\n", route_changes_failed, route_changes_made);
		return 1;
	}
	return resolved ? 0 : 1;
}

// A copy started without a gateway pair has nothing to resolve: every cycle fails as if neither
// gateway had an interface, before anything of the table is read or changed.
int run_update_cycle()
{
	log_write("Updating route table\n");
	log_flush();
	int result;
	if (lanx_gateway_text == nullptr || world_gateway_text == nullptr) {
		log_bad_gateway("LANX", "(none)");
		log_bad_gateway("WORLD", "(none)");
		result = 1;
	} else {
		result = update_routes();
	}
	log_write("Updated route table %ssuccessfully\n", result != 0 ? "un" : "");
	log_flush();
	return result;
}
