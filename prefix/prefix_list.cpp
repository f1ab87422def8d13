// The PrefixList: built at the tail only, from prefixes in ascending order.
#include "prefix/prefix_list.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

constinit PrefixNode prefix_list = {0, 0, 0, 0, 0};

// Nodes come from chunks, one heap call for thousands of them; a released node waits on a
// free list for the next append, and the chunks go back when the list is reset.
PrefixNode** node_chunks;
static uint32_t chunk_count;
static uint32_t chunk_room;
// The next index never handed out: 0 is the sentinel's, so slot 0 of chunk 0 stays unused.
static uint32_t fresh = 1;
// The first released node, its next the one released before; 0 when none waits.
static uint32_t free_nodes;

// Room for one more chunk in the table; false when memory ran out or the indexes would.
static bool add_chunk()
{
	if (chunk_count == UINT32_MAX / NODE_CHUNK)
		return false;
	if (chunk_count == chunk_room) {
		uint32_t room = chunk_room ? chunk_room * 2 : 64;
		PrefixNode** grown = static_cast<PrefixNode**>(std::realloc(node_chunks, room * sizeof(PrefixNode*)));
		if (grown == nullptr)
			return false;
		node_chunks = grown;
		chunk_room = room;
	}
	PrefixNode* chunk = static_cast<PrefixNode*>(std::malloc(NODE_CHUNK * sizeof(PrefixNode)));
	if (chunk == nullptr)
		return false;
	node_chunks[chunk_count++] = chunk;
	return true;
}

// A node's index; 0 when it cannot be allocated.
static uint32_t take_node()
{
	if (free_nodes != 0) {
		uint32_t index = free_nodes;
		free_nodes = node_at(index)->next;
		return index;
	}
	if (fresh / NODE_CHUNK == chunk_count && !add_chunk())
		return 0;
	return fresh++;
}

static void give_node(uint32_t index)
{
	node_at(index)->next = free_nodes;
	free_nodes = index;
}

PrefixNode* append_node(uint32_t base, int32_t length, uint8_t listed)
{
	uint32_t index = take_node();
	if (index == 0)
		return nullptr;
	PrefixNode* node = node_at(index);
	node->base = base;
	node->length = static_cast<int8_t>(length);
	node->listed = listed;
	node->next = 0;
	node->prev = prefix_list.prev;
	prev_node(node)->next = index;
	prefix_list.prev = index;
	return node;
}

uint32_t prefix_list_changes;

void remove_node(PrefixNode* node)
{
	prefix_list_changes++;
	// A node's index is its neighbour's link to it.
	uint32_t index = prev_node(node)->next;
	prev_node(node)->next = node->next;
	next_node(node)->prev = node->prev;
	give_node(index);
}

// Fuses the tail with its lower half-sibling as far up as the list allows.
// Bases are not compared: with ascending input the neighbour is that sibling.
static void merge_up()
{
	PrefixNode* tail = node_at(prefix_list.prev);
	PrefixNode* before = prev_node(tail);
	while (before->listed && before->length == tail->length && (tail->base & block_size(tail->length)) != 0) {
		prefix_list.prev = tail->prev;
		give_node(before->next);
		before->next = 0;
		before->length--;
		tail = before;
		before = prev_node(tail);
	}
}

// A length outside 0..32 names no block: such a call changes nothing and reports success.
bool add_prefix(uint32_t address, int32_t length)
{
	if (length < 0 || length > 32)
		return true;

	PrefixNode* tail = node_at(prefix_list.prev);
	uint32_t base = tail->base;
	int32_t tail_length = tail->length;

	if (tail->listed) {
		uint32_t last = address + block_size(length) - 1;
		uint32_t tail_last = base + block_size(tail_length) - 1;
		if (length >= tail_length && address >= base && last <= tail_last)
			return true;
		if (length <= tail_length) {
			if (address <= base && last >= tail_last) {
				tail->base = address;
				tail->length = static_cast<int8_t>(length);
				merge_up();
				return true;
			}
			uint32_t size = block_size(length);
			if (length == tail_length && (base & size) == 0 && base + size == address) {
				tail->length = static_cast<int8_t>(tail_length - 1);
				merge_up();
				return true;
			}
		}
	}

	// The longest length whose block holds both the tail and the prefix, bounded by both lengths.
	int32_t common_length = std::countl_zero(address ^ base);
	common_length = std::min({common_length, tail_length, length});

	// Up: from the tail's end, every block the tail's upper neighbours leave open is a gap,
	// up to the half of the common block that holds the tail.
	uint32_t cursor = base;
	for (int32_t level = tail_length; level >= common_length + 2; level--) {
		uint32_t bit = block_size(level);
		if (cursor & bit)
			cursor &= ~bit;
		else if (append_node(cursor | bit, level, 0) == nullptr)
			return false;
	}

	// Down: from the half of the common block that holds the prefix to the prefix itself, every
	// lower half passed on the way is a gap.
	if (common_length < length) {
		uint32_t gap_base = (address & block_mask(common_length)) | (address & block_size(common_length + 1));
		for (int32_t level = common_length + 2; level <= length; level++) {
			uint32_t bit = block_size(level);
			if (address & bit) {
				if (append_node(gap_base, level, 0) == nullptr)
					return false;
				gap_base |= bit;
			}
		}
	}

	return append_node(address, length, 1) != nullptr;
}

void reset_prefix_list()
{
	prefix_list_changes++;
	for (uint32_t i = 0; i < chunk_count; i++)
		std::free(node_chunks[i]);
	std::free(node_chunks);
	node_chunks = nullptr;
	chunk_count = 0;
	chunk_room = 0;
	fresh = 1;
	free_nodes = 0;
	prefix_list.next = 0;
	prefix_list.prev = 0;
}
