#pragma once
// A route as a row, the same whether it came from a dump, a notification or one of our requests.
#include <libmnl/libmnl.h>

#include "platform/routing.h"

// A main-table IPv4 route message (RTM_NEWROUTE or RTM_DELROUTE) as a row; false for any other.
bool route_row_of_message(const nlmsghdr* nlh, RouteRow* row);
// The row a dump gives for the route a create or a rewrite of row made.
RouteRow route_row_of_request(const RouteRow* row);
// Whether a and b name the same route: the kernel tells routes apart by destination, length, tos
// and priority.
bool route_same_key(const RouteRow& a, const RouteRow& b);
// The order of a kept table: the search's (destination ascending, longer masks first), then tos
// and priority.
bool route_key_less(const RouteRow& a, const RouteRow& b);
