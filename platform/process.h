#pragma once
// Relaunching detached, sleeping, and the signals an operator sends.
#include <cstdint>

// Starts this program again, detached, with argv plus "--no-fork". false with *error when it cannot.
bool process_relaunch(int argc, char** argv, int* error);

// Waits up to ms; a stop request ends the sleep at once.
void process_sleep(uint32_t ms);

// Takes the signals an operator sends a background copy: a stop request (SIGTERM, SIGINT on
// Linux) and a request to reopen the log (SIGHUP). false with *error when it cannot.
bool process_catch_signals(int* error);
// True once a stop has been asked for; it ends every wait and sleep from then on.
bool process_stop_requested();
// True once for each request to reopen the log.
bool process_take_log_reopen();
