#pragma once
// Merging sibling blocks of the PrefixList before routes are ensured.

void aggregate_prefixes();
