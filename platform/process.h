#pragma once
// Relaunching detached, the disconnection event, waiting and sleeping.
#include <cstdint>

// Starts this program again, detached, with argv plus "--no-fork". false with *error when it cannot.
bool process_relaunch(int argc, char** argv, int* error);

// The disconnection event; false with *error when it cannot be created.
bool event_create(int* error);
// Waits up to ms for the event: true when it was signalled (and is reset by the wait).
bool event_wait(uint32_t ms);

void process_sleep(uint32_t ms);
