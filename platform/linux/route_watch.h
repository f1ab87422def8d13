#pragma once
// The rtnetlink notifications that keep the forwarding table between dumps.

// Opens the watch socket on first use, subscribed to route, link, address and nexthop changes;
// false with errno. Our own changes are filtered out in the kernel.
bool watch_open();
// Reads every notification queued: route changes go to the kept table; a link, address or nexthop
// change, a lost notification or a failed read set netlink.doubt.
void watch_drain();
// Leaves the route group once a dump is due anyway (netlink.doubt): the rest of a bulk of our own
// changes then costs the kernel no filtered copy of each notification.
void watch_leave_routes();
// Joins the route group again, before that dump; false with errno when it cannot.
bool watch_join_routes();
