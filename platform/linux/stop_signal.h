#pragma once
// Between the signal handlers and the layers that block: a descriptor that turns readable for
// good once a stop is asked for, so that every later wait ends at once, and the wait built on it.
#include <cstdint>

// The descriptor to poll beside one's own; -1 before the handlers are in place.
int stop_signal_fd();
// The monotonic clock in milliseconds.
int64_t now_ms();
// Waits up to ms for fd (none when -1) to turn readable: true when it did. A stop request ends
// the wait at once, false.
bool wait_unless_stopped(int fd, uint32_t ms);
