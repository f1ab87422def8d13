// No service manager takes notices here.
#include "platform/notify.h"

void notify_service_manager(const char*) {}

bool notify_watchdog_wanted()
{
	return false;
}
