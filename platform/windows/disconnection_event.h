#pragma once
// Between the dial-up layer and the wait: the disconnection event for the drop notice, and the
// look at a link whose notice could not be registered.
#include <ras.h>
#include <windows.h>

// Null until event_create succeeded.
HANDLE disconnection_event_handle();
// A link whose drop notice could not be registered: the wait asks after it once a pass, until
// it is unwatched (null watches none).
void event_watch_link(HRASCONN link);
void event_unwatch_link(HRASCONN link);
