#pragma once
// A dial-up facility: an entry's stored parameters, a synchronous dial, its state, hang-up,
// and a drop notice that signals the disconnection event.
#include <cstdint>

// A connection; 0 is none.
using DialConnection = uintptr_t;

// The dialling parameters of one phonebook entry.
struct DialParams {
	char entry_name[257];
};

inline constexpr uint32_t DIAL_STATE_CONNECTED = 0x2000;

struct DialStatus {
	uint32_t state;
	uint32_t error;
};

// Fills in the entry's stored parameters; 0 or an error code.
uint32_t dialup_get_entry_params(DialParams* params);
// Dials synchronously; may hand back a connection even when it fails.
uint32_t dialup_dial(const DialParams* params, DialConnection* connection);
uint32_t dialup_get_status(DialConnection connection, DialStatus* status);
void dialup_hang_up(DialConnection connection);
// Asks for the disconnection event to be signalled when the connection drops.
void dialup_notify_on_drop(DialConnection connection);
