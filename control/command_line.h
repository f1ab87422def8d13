#pragma once
// The command line: the argument loop and the process-wide settings it fixes.

// References into the argument vector; null until set.
extern const char* lanx_gateway_text;
extern const char* world_gateway_text;
extern const char* ras_entry_name;
extern bool no_fork;

// Writes the usage banner to standard error.
void print_usage();

// Visits the arguments after the program name. Returns -1 when the loop ran to its end,
// otherwise the exit status of a failure whose message has been written.
int parse_arguments(int argc, char** argv);
