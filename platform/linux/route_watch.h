#pragma once
// The rtnetlink notifications that keep the forwarding table between dumps.

// Opens the watch socket on first use, subscribed to route, link, address and nexthop changes;
// false with errno. Our own changes are filtered out in the kernel.
bool watch_open();
// Reads every notification queued: route changes go to the kept table; a link, address or nexthop
// change, a lost notification or a failed read set netlink.doubt.
void watch_drain();
