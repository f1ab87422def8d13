#pragma once
// The background copy: start and the main loop.

// Background road: opens the log, prepares the state and runs the loop; the exit status.
int background_copy();
