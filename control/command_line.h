#pragma once
// The command line: the argument loop that fixes the process-wide settings, and the usage banner.

#include <cstdio>

// Writes the usage banner, to standard error unless told otherwise.
void print_usage(std::FILE* stream = stderr);

// The version line.
inline constexpr const char VERSION_LINE[] = "LanxRoute version 1.1\n";

// Options that only ask, answered before the shared word is opened.
enum QueryOption { QUERY_NONE, QUERY_HELP, QUERY_VERSION, QUERY_STATUS };
// The first such option among the arguments, or QUERY_NONE.
QueryOption find_query_option(int argc, char** argv);

// Visits the arguments after the program name. Returns -1 when the loop ran to its end,
// otherwise the exit status of a failure whose message has been written.
int parse_arguments(int argc, char** argv);
