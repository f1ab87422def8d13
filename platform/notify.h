#pragma once
// The service manager's notices (systemd's $NOTIFY_SOCKET); nothing where there is none.

// Sends one notice, such as "READY=1"; nothing when no manager listens.
void notify_service_manager(const char* text);
// Whether the manager watches for a WATCHDOG=1 notice at every pass.
bool notify_watchdog_wanted();
