#pragma once
// A dial-up facility: an entry's stored parameters, a synchronous dial, its state, hang-up, and
// the disconnection event that a drop notice signals, with the wait that ends on it.
#include <cstdint>

// A connection; 0 is none.
using DialHandle = uintptr_t;

// The dialling parameters of one phonebook entry. The caller zeroes the whole record and sets
// entry_name; the platform keeps its own record of the entry in platform_record, from the read
// of the parameters to the dial.
struct DialParams {
	char entry_name[257];
	alignas(16) unsigned char platform_record[2048];
};

inline constexpr uint32_t DIAL_STATE_CONNECTED = 0x2000; // RASCS_Connected

struct DialStatus {
	uint32_t state;
	uint32_t error;
};

// Fills in the entry's stored parameters; 0 or an error code.
uint32_t dialup_get_entry_params(DialParams* params);
// Dials synchronously; may hand back a connection even when it fails.
uint32_t dialup_dial(DialParams* params, DialHandle* connection);
// 0 with the state filled in, or an error code.
uint32_t dialup_get_status(DialHandle connection, DialStatus* status);
void dialup_hang_up(DialHandle connection);

// The disconnection event; false with *error when it cannot be created.
bool dialup_event_create(int* error);
// Asks for the disconnection event to be signalled when the connection drops.
void dialup_notify_on_drop(DialHandle connection);
// Waits up to ms for the event: true when a drop signalled it (each drop is seen once). A stop
// request ends the wait at once, unsignalled.
bool dialup_wait_for_drop(uint32_t ms);
