// The kept forwarding table: a sorted block, changes noted in order and merged in at the next take.
#include "platform/linux/route_kept.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/netlink.h"
#include "platform/linux/route_message.h"

// A cycle that changes more routes than this dumps afresh at the next: a dump costs a fraction
// of making them, and their notes would cost as much memory as the table.
static constexpr size_t MOST_NOTES = 4096;

struct KeptNote {
	RouteRow row;
	KeptChange change;
};

struct KeptTable {
	RouteRow* rows;
	uint32_t count;
	std::vector<KeptNote> notes;
	bool valid;
};
static KeptTable kept;

void kept_forget()
{
	std::free(kept.rows);
	kept.rows = nullptr;
	kept.count = 0;
	kept.notes = std::vector<KeptNote>{};
	kept.valid = false;
}

void kept_reset(RouteRow* rows, uint32_t count)
{
	kept_forget();
	kept.rows = rows;
	kept.count = count;
	std::sort(rows, rows + count, route_key_less);
	for (uint32_t i = 1; i < count; i++)
		if (route_same_key(rows[i - 1], rows[i]))
			return kept_forget();
	kept.valid = true;
}

bool kept_valid()
{
	return kept.valid;
}

bool kept_owns(const void* rows)
{
	return rows != nullptr && rows == kept.rows;
}

void kept_note(const RouteRow& row, KeptChange change)
{
	if (!kept.valid || netlink.doubt)
		return;
	if (kept.notes.size() == MOST_NOTES) {
		netlink.doubt = true;
		kept.notes = std::vector<KeptNote>{};
		return;
	}
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

// Merges the notes in place: the block grows by room for the notes (a mapping of its own grows
// without a copy) and its rows move up by as much, so that the merged rows, at most one a row or
// a key of the notes, are written below the rows still to read. Rows and notes are sorted by key,
// the notes of one key in order. A false leaves the block to be forgotten.
static bool merge_notes()
{
	std::stable_sort(kept.notes.begin(), kept.notes.end(), note_less);
	size_t room = kept.count + kept.notes.size();
	RouteRow* merged = static_cast<RouteRow*>(std::realloc(kept.rows, room * sizeof(RouteRow)));
	if (!merged)
		return false;
	kept.rows = merged;
	const RouteRow* rows = merged + kept.notes.size();
	std::memmove(merged + kept.notes.size(), merged, kept.count * sizeof(RouteRow));
	uint32_t i = 0, out = 0;
	for (size_t n = 0; n < kept.notes.size();) {
		const RouteRow& key = kept.notes[n].row;
		while (i < kept.count && route_key_less(rows[i], key))
			merged[out++] = rows[i++];
		size_t end = n;
		while (end < kept.notes.size() && route_same_key(kept.notes[end].row, key))
			end++;
		RouteRow route{};
		bool present = i < kept.count && route_same_key(rows[i], key);
		if (present)
			route = rows[i++];
		if (!apply_notes(&kept.notes[n], kept.notes.data() + end, &route, &present))
			return false;
		if (present)
			merged[out++] = route;
		n = end;
	}
	while (i < kept.count)
		merged[out++] = rows[i++];
	kept.count = out;
	kept.notes.clear();
	return true;
}

bool kept_take(RouteRow** rows, uint32_t* count)
{
	// The last cycle's marks and new interfaces go; what was made came back as notes.
	for (uint32_t i = 0; i < kept.count; i++) {
		kept.rows[i].age = 0;
		kept.rows[i].if_index = kept.rows[i].fetched_if_index;
		kept.rows[i].next_hop = kept.rows[i].fetched_next_hop;
	}
	if (!kept.notes.empty() && !merge_notes()) {
		netlink.doubt = true;
		kept_forget();
		return false;
	}
	// Even an empty table gives a block.
	if (!kept.rows && !(kept.rows = static_cast<RouteRow*>(std::malloc(sizeof(RouteRow)))))
		return false;
	*rows = kept.rows;
	*count = kept.count;
	return true;
}
