#pragma once
// Between the signal handlers and the layers that block: a descriptor that turns readable for
// good once a stop is asked for, so that every later wait ends at once.

// The descriptor to poll beside one's own; -1 before the handlers are in place.
int stop_signal_fd();
