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

void remove_node(PrefixNode* node)
{
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
	while (before->listed && before->length == tail->length &&
	    (tail->base & block_size(tail->length)) != 0) {
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

	// Gaps from the tail's end up to the smallest block holding both, then down to the prefix.
	int32_t n = std::countl_zero(address ^ base);
	n = std::min({n, tail_length, length});

	uint32_t w = base;
	for (int32_t k = tail_length; k >= n + 2; k--) {
		uint32_t bit = block_size(k);
		if (w & bit)
			w &= ~bit;
		else if (append_node(w | bit, k, 0) == nullptr)
			return false;
	}

	if (n < length) {
		uint32_t g = (address & block_mask(n)) | (address & block_size(n + 1));
		for (int32_t k = n + 2; k <= length; k++) {
			uint32_t bit = block_size(k);
			if (address & bit) {
				if (append_node(g, k, 0) == nullptr)
					return false;
				g |= bit;
			}
		}
	}

	return append_node(address, length, 1) != nullptr;
}

void reset_prefix_list()
{
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
