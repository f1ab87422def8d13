#pragma once
// Between the dial-up layer and the wait: the disconnection event for the drop notice, and the
// look at a link whose notice could not be registered.
#include <windows.h>

// Null until event_create succeeded.
HANDLE disconnection_event_handle();
// True when the link whose drop notice could not be registered is gone; the wait asks once a pass.
bool unnoticed_link_dropped();
