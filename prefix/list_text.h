#pragma once
// Turning list text into prefixes, and building the PrefixList from the downloaded and static texts.
#include <cstdint>

// The prefix of one line: four octets 0 to 255, each after optional blanks and sign, then "/" and a
// length 0 to 32, or no "/" at all for a /24; the base with its host bits cleared. false for any
// other line.
bool scan_line(const char* line, uint32_t* base, int32_t* length);

// One add_prefix call for every line that starts with a digit and is a prefix, then one line that
// counts the others of source, if any; with last_line_cut, a last line without its line feed
// counts as cut off. false when memory ran out.
bool parse_list_text(const char* text, const char* source, bool last_line_cut);

// Rebuilds the PrefixList from the downloaded list and "lanxroute.static", unless both texts and
// the partition are unchanged since the last build.
// false when no list text could be had (the list is then as it was) or memory ran out.
bool load_prefix_list();
