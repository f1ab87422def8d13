#include "platform/dialup.h"

#include <ras.h>
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/windows/disconnection_event.h"

static_assert(sizeof(RASDIALPARAMSA) <= sizeof(DialParams::platform_record));
static_assert(alignof(RASDIALPARAMSA) <= alignof(DialParams));

static RASDIALPARAMSA* dial_record(DialParams* params)
{
	return std::launder(reinterpret_cast<RASDIALPARAMSA*>(params->platform_record));
}

uint32_t dialup_get_entry_params(DialParams* params)
{
	RASDIALPARAMSA* record = new (params->platform_record) RASDIALPARAMSA;
	std::memset(record, 0, sizeof *record);
	record->dwSize = sizeof *record;
	static_assert(sizeof record->szEntryName == sizeof params->entry_name);
	std::memcpy(record->szEntryName, params->entry_name, sizeof record->szEntryName);
	BOOL password = FALSE;
	return RasGetEntryDialParamsA(NULL, record, &password);
}

uint32_t dialup_dial(DialParams* params, DialConnection* connection)
{
	HRASCONN handle = NULL;
	DWORD r = RasDialA(NULL, NULL, dial_record(params), 0, NULL, &handle);
	*connection = reinterpret_cast<DialConnection>(handle);
	return r;
}

uint32_t dialup_get_status(DialConnection connection, DialStatus* status)
{
	RASCONNSTATUSA record;
	std::memset(&record, 0, sizeof record);
	record.dwSize = sizeof record;
	DWORD r = RasGetConnectStatusA(reinterpret_cast<HRASCONN>(connection), &record);
	status->state = static_cast<uint32_t>(record.rasconnstate);
	status->error = record.dwError;
	return r;
}

// How long a hang-up may take to let go of the port, and how often to look.
static constexpr DWORD HANG_UP_WAIT_MS = 3000;
static constexpr DWORD HANG_UP_LOOK_MS = 50;

void dialup_hang_up(DialConnection connection)
{
	HRASCONN handle = reinterpret_cast<HRASCONN>(connection);
	event_unwatch_link(handle);
	RasHangUpA(handle);
	// The port is free only once RAS no longer knows the handle; a redial before that fails.
	RASCONNSTATUSA record;
	for (DWORD waited = 0; waited < HANG_UP_WAIT_MS; waited += HANG_UP_LOOK_MS) {
		std::memset(&record, 0, sizeof record);
		record.dwSize = sizeof record;
		if (RasGetConnectStatusA(handle, &record) != 0)
			break;
		Sleep(HANG_UP_LOOK_MS);
	}
}

void dialup_notify_on_drop(DialConnection connection)
{
	HRASCONN handle = reinterpret_cast<HRASCONN>(connection);
	if (RasConnectionNotificationA(handle, disconnection_event_handle(), RASCN_Disconnection) != 0)
		event_watch_link(handle);
}
