// Merging equally long neighbours of the PrefixList into listed blocks of double size.
#include "routes/aggregate.h"

#include "common/settings.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"

// Merges node with its half-siblings for as long as one applies; returns the
// survivor. The sentinel reads as an unlisted block of length 0, so it never takes part.
static PrefixNode* merge_node(PrefixNode* node, bool* changed)
{
	// A length-0 block has no enclosing block to become.
	while (node->length > 0) {
		int32_t length = node->length;
		uint32_t level = block_size(length);
		PrefixNode* before = prev_node(node);
		PrefixNode* after = next_node(node);
		if (before->listed && before->length == length && (node->listed || prev_node(before)->listed) &&
		    (node->base & level) != 0) {
			// A gap keeps going to the world once it is inside a listed block.
			if (!node->listed)
				ensure_route(node, world_if, world_gateway);
			before->length = static_cast<int8_t>(length - 1);
			remove_node(node);
			node = before;
		} else if (after->listed && after->length == length && (node->listed || next_node(after)->listed) &&
			   (node->base & level) == 0 && after != node_at(prefix_list.prev)) {
			// The last node never gets a route: absorbing it would leave this node unrouted too.
			if (!node->listed)
				ensure_route(node, world_if, world_gateway);
			node->listed = 1;
			node->length = static_cast<int8_t>(length - 1);
			remove_node(after);
		} else {
			break;
		}
		*changed = true;
	}
	return node;
}

void aggregate_prefixes()
{
	bool changed = true;
	while (changed) {
		changed = false;
		for (PrefixNode* node = next_node(&prefix_list); node != &prefix_list; node = next_node(node)) {
			// Listed blocks reached by advancing are passed over.
			if (!node->listed)
				node = merge_node(node, &changed);
		}
	}
}
