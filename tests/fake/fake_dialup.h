#pragma once
// The scripted dial-up facility: one scripted attempt per read of an entry's parameters.
// Calls go to the timeline of tests/fake/fake_process.h: "params NAME", "dial NAME",
// "status H", "hangup H", "notify H".
#include <cstdint>
#include <vector>

#include "platform/dialup.h"

struct FakeDialAttempt {
	uint32_t params_result;
	uint32_t dial_result;
	DialConnection handle;		// handed back by the dial, also when it fails
	uint32_t status_result;
	uint32_t state;
	uint32_t error;
};

// The n-th read of the parameters starts the n-th attempt; once used up, the last repeats.
extern std::vector<FakeDialAttempt> fake_dial_attempts;

// A attempt that connects with handle.
FakeDialAttempt fake_dial_connects(DialConnection handle);
// An attempt whose dial fails with result, handing back handle.
FakeDialAttempt fake_dial_fails(uint32_t result, DialConnection handle);

void fake_dialup_reset();
