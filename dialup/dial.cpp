#include "dialup/dial.h"

#include <cstring>

#include "common/log.h"

DialHandle dial_connection(const char* entry_name)
{
	DialParams params;
	std::memset(&params, 0, sizeof params);
	// The field keeps its last character as the terminator.
	std::strncpy(params.entry_name, entry_name, sizeof params.entry_name - 1);

	uint32_t r = dialup_get_entry_params(&params);
	if (r != 0) {
		log_write("RasGetEntryDialParams(^): %d\n", static_cast<int>(r));
		return 0;
	}

	DialHandle connection = 0;
	r = dialup_dial(&params, &connection);
	if (r != 0) {
		if (connection != 0)
			dialup_hang_up(connection);
		log_write("RasDial(^): %d\n", static_cast<int>(r));
		return 0;
	}

	DialStatus status;
	std::memset(&status, 0, sizeof status);
	r = dialup_get_status(connection, &status);
	if (r == 0 && status.state == DIAL_STATE_CONNECTED && status.error == 0)
		return connection;
	dialup_hang_up(connection);
	log_write("RasGetConnectStatus(^): %d\n", static_cast<int>(r));
	return 0;
}
