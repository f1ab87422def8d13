#pragma once
// The background copy: relaunch, start, and the main loop.

// Foreground road: starts the detached copy. 0 when it runs, 1 after the failure message.
int relaunch_detached(int argc, char** argv);

// Background road: opens the log, prepares the state and runs the loop; the exit status.
int background_copy();

// The main loop; 0 when it ends on an exit request.
int main_loop();
