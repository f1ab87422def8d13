#pragma once
// The scripted process, dial-up and shared-word layers: what a test sets is what they answer, and
// every call they receive goes to one timeline, between the log's bytes as they reach the disk.
#include <string>
#include <vector>

#include "platform/dialup.h"

// One dial-up attempt, begun by a read of the entry's parameters: a nonzero params or dial fails
// that step; the dial hands back handle (0 leaves the caller's as it was), also when it fails.
struct FakeDial {
	uint32_t params = 0, dial = 0;
	uintptr_t handle = 7;
	uint32_t status = 0, state = DIAL_STATE_CONNECTED, error = 0; // the status query's answer
};

// Everything succeeds and nothing is recorded; the test points control_word at word.
struct Fake {
	int open_error = 0, map_error = 0, relaunch_error = 0, event_error = 0, signal_error = 0; // nonzero fails
	bool existed = false; // another copy holds the shared word
	uint32_t word = 0;
	unsigned drops = 0;                            // bit n: the n-th pause, a wait, is signalled
	size_t exit_on_pause = 0, rotate_on_pause = 0; // (from 1) the n-th wait or sleep sets CW_EXIT; renames the log
	bool silent_rotate = false;                    // the rename asks for no reopening
	std::string published = {};                    // the status file; empty: none
	std::vector<FakeDial> dials = {};              // the n-th attempt; once used up, the last repeats
	size_t pauses = 0, attempts = 0, log_seen = 0; // counts; log bytes in the timeline
	// "> wait 5000", "> sleep 1000", "> rotate", "> params NAME" ("unzeroed" when the record came filled),
	// "> dial NAME", "> status H", "> hangup H", "> notify H", "> event", "> relaunch N arguments"
	std::string timeline = {};
};

extern Fake fake;

// Adds the log bytes flushed since the last call, then "> what\n", to the timeline.
void fake_note(const std::string& what);
