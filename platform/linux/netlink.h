#pragma once
// The routing layer's two rtnetlink sockets, one for table dumps and one for route changes, and
// what every request and answer on them shares.
#include <libmnl/libmnl.h>

#include <cstddef>
#include <cstdint>

// Our routes carry this protocol number; the sweep deletes nothing else.
inline constexpr unsigned char RTPROT_LANXROUTE = 76;

struct Netlink {
	mnl_socket* dump_socket;
	mnl_socket* change_socket;
	// What the change socket takes in one send, and the acknowledgements it can hold unread.
	size_t change_send_bytes;
	uint32_t change_ack_room;
	uint32_t sequence;
	// Set when answers of the kernel's were lost: the next cycle takes a fresh dump.
	bool doubt;
};
extern Netlink netlink;

// Each opens its socket on first use; false with errno.
bool netlink_open_dump();
bool netlink_open_change();
// After a failed dump the rest of its messages may still be queued: the next one starts afresh.
void netlink_drop_dump();

// Reserves count consecutive sequence numbers and gives the first.
uint32_t netlink_sequences(uint32_t count);

// Starts a request in buf (aligned for nlmsghdr): the header, then a zeroed family header of
// family_size bytes, which it gives back for filling in.
void* netlink_request(char* buf, uint16_t type, uint16_t flags, uint32_t seq, size_t family_size);

// The status an NLMSG_ERROR message carries: 0 or the positive errno.
uint32_t netlink_error_of(const nlmsghdr* msg);

// libmnl's attribute walk, without the C-only pointer conversions of its macro.
const nlattr* netlink_first_attr(const nlmsghdr* nlh, size_t offset);
bool netlink_attr_ok(const nlmsghdr* nlh, const nlattr* attr);

// Prefix length and netmask (network byte order) into each other.
uint32_t netlink_mask_of(unsigned length);
unsigned netlink_length_of(uint32_t mask);
