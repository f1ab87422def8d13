#pragma once
// The PrefixList: an ordered partition of the IPv4 space into listed blocks and gap blocks.
#include <cstdint>

// 16 bytes: a sparse list's partition is half a million of them.
struct PrefixNode {
	uint32_t base; // host order; host bits beyond the length are kept as given
	int8_t length;
	uint8_t listed;
	// The neighbours by index: 0 is the sentinel, the others are places in the node chunks.
	uint32_t prev;
	uint32_t next;
};

// The sentinel: next is the head, prev the tail. Reads as an unlisted block of length 0.
extern PrefixNode prefix_list;

// Nodes live in chunks of NODE_CHUNK; node_chunks[i / NODE_CHUNK] holds index i.
inline constexpr uint32_t NODE_CHUNK = 4096;
extern PrefixNode** node_chunks;

inline PrefixNode* node_at(uint32_t index)
{
	return index == 0 ? &prefix_list : &node_chunks[index / NODE_CHUNK][index % NODE_CHUNK];
}

inline PrefixNode* next_node(const PrefixNode* node)
{
	return node_at(node->next);
}

inline PrefixNode* prev_node(const PrefixNode* node)
{
	return node_at(node->prev);
}

// 2^(32 - length) modulo 2^32: 0 for length 0. Also the level bit of a length. Lengths 0..32.
inline uint32_t block_size(int32_t length)
{
	return static_cast<uint32_t>(uint64_t{1} << (32 - length));
}

inline uint32_t block_mask(int32_t length)
{
	return ~(block_size(length) - 1);
}

// Counts removals and resets, so that a change to a built list can be told.
extern uint32_t prefix_list_changes;

// Appends a node at the tail; null when it cannot be allocated.
PrefixNode* append_node(uint32_t base, int32_t length, uint8_t listed);
// Unlinks a node and releases it.
void remove_node(PrefixNode* node);
// Extends the partition by one prefix, given in ascending order; false when a node could not
// be allocated (the list may then be partial). A length outside 0..32 changes nothing.
bool add_prefix(uint32_t address, int32_t length);
// Releases every node; the list is empty afterwards.
void reset_prefix_list();
