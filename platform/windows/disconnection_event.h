#pragma once
// The disconnection event, for the dial-up layer's drop notice.
#include <windows.h>

// Null until event_create succeeded.
HANDLE disconnection_event_handle();
