#pragma once
// The shared word in plain memory: the test scripts the platform's answers and reads the calls.
#include <cstdint>

struct FakeSharedWord {
	// Scripted answers.
	bool existed;
	bool open_fails;
	int open_error;
	bool map_fails;
	int map_error;
	// The word itself and the calls made.
	uint32_t word;
	int open_calls;
	int map_calls;
};

extern FakeSharedWord fake_shared_word;

// A new word that did not exist, every call succeeding; the word holds garbage until stored.
void fake_shared_word_reset();
