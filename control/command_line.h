#pragma once
// The command line: the argument loop that fixes the process-wide settings, and the usage banner.

// Writes the usage banner to standard error.
void print_usage();

// Visits the arguments after the program name. Returns -1 when the loop ran to its end,
// otherwise the exit status of a failure whose message has been written.
int parse_arguments(int argc, char** argv);
