// The kept forwarding table: a sorted block, changes noted in order and merged in at the next copy.
#include "platform/linux/route_kept.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/netlink.h"
#include "platform/linux/route_message.h"

struct KeptNote {
	RouteRow row;
	KeptChange change;
};

struct KeptTable {
	std::vector<RouteRow> rows;
	std::vector<KeptNote> notes;
	bool valid;
};
static KeptTable kept;

void kept_forget()
{
	kept.rows = std::vector<RouteRow>{};
	kept.notes.clear();
	kept.valid = false;
}

void kept_reset(RouteRow* rows, uint32_t count)
{
	kept_forget();
	kept.rows.assign(rows, rows + count);
	std::free(rows);
	std::sort(kept.rows.begin(), kept.rows.end(), route_key_less);
	for (size_t i = 1; i < kept.rows.size(); i++)
		if (route_same_key(kept.rows[i - 1], kept.rows[i]))
			return kept_forget();
	kept.valid = true;
}

bool kept_valid()
{
	return kept.valid;
}

void kept_note(const RouteRow& row, KeptChange change)
{
	if (kept.valid)
		kept.notes.push_back({row, change});
}

static bool note_less(const KeptNote& a, const KeptNote& b)
{
	return route_key_less(a.row, b.row);
}

// The route of one key after its notes, in the order they came; false if an add met a different
// route of that key (the kernel may now hold both).
static bool apply_notes(const KeptNote* note, const KeptNote* end, RouteRow* route, bool* present)
{
	for (; note != end; note++) {
		if (note->change == KEPT_REMOVE) {
			*present = false;
			continue;
		}
		if (note->change == KEPT_ADD && *present && std::memcmp(route, &note->row, sizeof *route) != 0)
			return false;
		*route = note->row;
		*present = true;
	}
	return true;
}

// Merges the notes into the rows: both sorted by key, the notes of one key kept in their order.
static bool merge_notes()
{
	std::stable_sort(kept.notes.begin(), kept.notes.end(), note_less);
	std::vector<RouteRow> merged;
	merged.reserve(kept.rows.size() + kept.notes.size());
	size_t i = 0;
	for (size_t n = 0; n < kept.notes.size();) {
		const RouteRow& key = kept.notes[n].row;
		while (i < kept.rows.size() && route_key_less(kept.rows[i], key))
			merged.push_back(kept.rows[i++]);
		size_t end = n;
		while (end < kept.notes.size() && route_same_key(kept.notes[end].row, key))
			end++;
		RouteRow route{};
		bool present = i < kept.rows.size() && route_same_key(kept.rows[i], key);
		if (present)
			route = kept.rows[i++];
		if (!apply_notes(&kept.notes[n], kept.notes.data() + end, &route, &present))
			return false;
		if (present)
			merged.push_back(route);
		n = end;
	}
	merged.insert(merged.end(), kept.rows.begin() + static_cast<std::ptrdiff_t>(i), kept.rows.end());
	kept.rows.swap(merged);
	kept.notes.clear();
	return true;
}

bool kept_copy(RouteRow** rows, uint32_t* count)
{
	if (!kept.notes.empty() && !merge_notes()) {
		netlink.doubt = true;
		kept_forget();
		return false;
	}
	// Even an empty table gives a block.
	*rows = static_cast<RouteRow*>(std::malloc(std::max<size_t>(kept.rows.size(), 1) * sizeof(RouteRow)));
	if (!*rows)
		return false;
	std::memcpy(*rows, kept.rows.data(), kept.rows.size() * sizeof(RouteRow));
	*count = static_cast<uint32_t>(kept.rows.size());
	return true;
}
