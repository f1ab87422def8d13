#pragma once
// One complete dial-up attempt.
#include "platform/dialup.h"

// A working connection, or 0 after its failure line.
DialHandle dial_connection(const char* entry_name);
