#pragma once
// What the running copy publishes after every cycle, and "--status", which shows it.
#include <cstdint>

// Publishes the cycle just ended (its result and milliseconds) beside the shared word and as the
// service manager's status line; link names the dial-up entry, or null.
void publish_cycle_status(int result, uint32_t duration_ms, const char* link, bool link_up);

// Replaces what an earlier copy published: this one has not ended a cycle yet.
void publish_no_cycle_yet();

// Prints the running copy's status to standard output: 0 when a copy runs, 3 when none does.
int print_status();
