// The PrefixList: built at the tail only, from prefixes in ascending order.
#include "prefix/prefix_list.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

constinit PrefixNode prefix_list = {0, 0, 0, &prefix_list, &prefix_list};

// Nodes come from chunks, one heap call for thousands of them; a released node waits on a
// free list for the next append, and the chunks go back when the list is reset.
constexpr size_t NODE_CHUNK = 4000;

struct NodeChunk {
	NodeChunk* next;
	PrefixNode nodes[NODE_CHUNK];
};

static NodeChunk* chunks;
static size_t chunk_used = NODE_CHUNK;
static PrefixNode* free_nodes;

static PrefixNode* take_node()
{
	if (free_nodes != nullptr) {
		PrefixNode* node = free_nodes;
		free_nodes = node->next;
		return node;
	}
	if (chunk_used == NODE_CHUNK) {
		NodeChunk* chunk = static_cast<NodeChunk*>(std::malloc(sizeof(NodeChunk)));
		if (chunk == nullptr)
			return nullptr;
		chunk->next = chunks;
		chunks = chunk;
		chunk_used = 0;
	}
	return &chunks->nodes[chunk_used++];
}

static void give_node(PrefixNode* node)
{
	node->next = free_nodes;
	free_nodes = node;
}

PrefixNode* append_node(uint32_t base, int32_t length, uint8_t listed)
{
	PrefixNode* node = take_node();
	if (node == nullptr)
		return nullptr;
	PrefixNode* tail = prefix_list.prev;
	node->base = base;
	node->length = length;
	node->listed = listed;
	node->next = &prefix_list;
	node->prev = tail;
	prefix_list.prev = node;
	tail->next = node;
	return node;
}

uint32_t prefix_list_changes;

void remove_node(PrefixNode* node)
{
	prefix_list_changes++;
	node->prev->next = node->next;
	node->next->prev = node->prev;
	give_node(node);
}

// Fuses the tail with its lower half-sibling as far up as the list allows.
// Bases are not compared: with ascending input the neighbour is that sibling.
static void merge_up()
{
	PrefixNode* tail = prefix_list.prev;
	PrefixNode* before = tail->prev;
	while (before->listed && before->length == tail->length && (tail->base & block_size(tail->length)) != 0) {
		before->next = &prefix_list;
		prefix_list.prev = before;
		give_node(tail);
		before->length--;
		tail = before;
		before = tail->prev;
	}
}

// A length outside 0..32 names no block: such a call changes nothing and reports success.
bool add_prefix(uint32_t address, int32_t length)
{
	if (length < 0 || length > 32)
		return true;

	PrefixNode* tail = prefix_list.prev;
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
				tail->length = length;
				merge_up();
				return true;
			}
			uint32_t size = block_size(length);
			if (length == tail_length && (base & size) == 0 && base + size == address) {
				tail->length = tail_length - 1;
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
	while (chunks != nullptr) {
		NodeChunk* next = chunks->next;
		std::free(chunks);
		chunks = next;
	}
	chunk_used = NODE_CHUNK;
	free_nodes = nullptr;
	prefix_list.next = &prefix_list;
	prefix_list.prev = &prefix_list;
}
