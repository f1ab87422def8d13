#pragma once
// One update cycle: the forwarding table brought into line with the downloaded list.

// The cycle proper: 0 when it ran to its end, 1 when it stopped early.
int update_routes();

// One cycle as the main loop runs it, between its opening line and its result line; its result.
int run_update_cycle();
