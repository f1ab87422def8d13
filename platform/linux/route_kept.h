#pragma once
// The forwarding table kept between cycles: the last dump with every change since applied.
#include <cstdint>

#include "platform/routing.h"

enum KeptChange { KEPT_ADD, KEPT_REPLACE, KEPT_REMOVE };

// Takes a dump's block (from std::malloc) as the kept table. A table with two routes of one key
// (an appended route) cannot be kept by key: then none is kept.
void kept_reset(RouteRow* rows, uint32_t count);
// Drops the kept table and the changes noted since.
void kept_forget();
bool kept_valid();
// Notes a change of the kernel's table, applied at the next kept_take. Past a bound the notes are
// dropped and netlink.doubt is set.
void kept_note(const RouteRow& row, KeptChange change);
// The kept table with the noted changes applied, lent to the caller until the next fetch: the
// caller may mark and re-point its rows, which the next kept_take puts back as fetched. false
// when a change does not fit the kept table (netlink.doubt set) or memory ran out.
bool kept_take(RouteRow** rows, uint32_t* count);
// Whether rows is the kept table's block, which routing_free leaves alone.
bool kept_owns(const void* rows);
