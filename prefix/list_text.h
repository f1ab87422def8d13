#pragma once
// Turning list text into prefixes, and rebuilding the PrefixList every cycle.

// One add_prefix call for every line that starts with a digit; false when memory ran out.
bool parse_list_text(const char* text);

// Rebuilds the PrefixList from the downloaded list and "lanxroute.static".
// false when no list text could be had (the list is then as it was) or memory ran out.
bool load_prefix_list();
