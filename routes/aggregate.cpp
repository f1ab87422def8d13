// Merging equally long neighbours of the PrefixList into listed blocks of double size.
#include "routes/aggregate.h"

#include "common/settings.h"
#include "prefix/prefix_list.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"

// Merges the current node x with its half-siblings for as long as one applies; returns the
// survivor. The sentinel reads as an unlisted block of length 0, so it never takes part.
static PrefixNode* merge_node(PrefixNode* x, bool* changed)
{
	// A length-0 block has no enclosing block to become.
	while (x->length > 0) {
		int32_t n = x->length;
		uint32_t level = block_size(n);
		PrefixNode* before = x->prev;
		PrefixNode* after = x->next;
		if (before->listed && before->length == n && (x->listed || before->prev->listed) &&
		    (x->base & level) != 0) {
			// A gap keeps going to the world once it is inside a listed block.
			if (!x->listed)
				ensure_route(x, world_if, world_gateway);
			before->length = n - 1;
			remove_node(x);
			x = before;
		} else if (after->listed && after->length == n && (x->listed || after->next->listed) &&
			   (x->base & level) == 0 && after != prefix_list.prev) {
			// The last node never gets a route: absorbing it would leave x unrouted too.
			if (!x->listed)
				ensure_route(x, world_if, world_gateway);
			x->listed = 1;
			x->length = n - 1;
			remove_node(after);
		} else {
			break;
		}
		*changed = true;
	}
	return x;
}

void aggregate_prefixes()
{
	bool changed = true;
	while (changed) {
		changed = false;
		for (PrefixNode* x = prefix_list.next; x != &prefix_list; x = x->next) {
			// Listed blocks reached by advancing are passed over.
			if (!x->listed)
				x = merge_node(x, &changed);
		}
	}
}
