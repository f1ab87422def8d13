#pragma once
// Turning list text into prefixes, and building the PrefixList from the downloaded and static texts.
#include <cstdint>

// Scans "%d.%d.%d.%d/%d" from text into values[0..4] (four octets, then the length) as the
// C library's formatted scan does: white space before each number is skipped, line feeds
// included; a separator must match exactly; the first mismatch ends the scan, and every value
// not reached keeps what it held.
void scan_prefix(const char* text, int32_t values[5]);

// One add_prefix call for every line that starts with a digit; false when memory ran out.
bool parse_list_text(const char* text);

// Rebuilds the PrefixList from the downloaded list and "lanxroute.static", unless both texts and
// the partition are unchanged since the last build.
// false when no list text could be had (the list is then as it was) or memory ran out.
bool load_prefix_list();
