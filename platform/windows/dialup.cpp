// Dial-up through RAS: the default phonebook's entries, RasDialA, and the disconnection event that
// RasConnectionNotificationA signals when the held link drops.
#include "platform/dialup.h"

#include <ras.h>
#include <windows.h>

#include <cstring>
#include <new>

// The disconnection event, and the link whose drop notice could not be registered (the wait asks
// after it once a pass), or null.
struct DropWatch {
	HANDLE event;
	HRASCONN unnotified_link;
};
static DropWatch drop_watch;

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

uint32_t dialup_dial(DialParams* params, DialHandle* connection)
{
	HRASCONN handle = NULL;
	DWORD r = RasDialA(NULL, NULL, dial_record(params), 0, NULL, &handle);
	*connection = reinterpret_cast<DialHandle>(handle);
	return r;
}

uint32_t dialup_get_status(DialHandle connection, DialStatus* status)
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

void dialup_hang_up(DialHandle connection)
{
	HRASCONN handle = reinterpret_cast<HRASCONN>(connection);
	if (drop_watch.unnotified_link == handle)
		drop_watch.unnotified_link = NULL;
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

bool dialup_event_create(int* error)
{
	drop_watch.event = CreateEventA(NULL, FALSE, FALSE, NULL);
	if (drop_watch.event == NULL) {
		*error = static_cast<int>(GetLastError());
		return false;
	}
	return true;
}

void dialup_notify_on_drop(DialHandle connection)
{
	HRASCONN handle = reinterpret_cast<HRASCONN>(connection);
	if (RasConnectionNotificationA(handle, drop_watch.event, RASCN_Disconnection) != 0)
		drop_watch.unnotified_link = handle;
}

// The link is gone when RAS no longer knows it or reports it disconnected.
static bool unnotified_link_dropped()
{
	if (drop_watch.unnotified_link == NULL)
		return false;
	RASCONNSTATUSA record;
	std::memset(&record, 0, sizeof record);
	record.dwSize = sizeof record;
	return RasGetConnectStatusA(drop_watch.unnotified_link, &record) != 0 ||
	       record.rasconnstate == RASCS_Disconnected;
}

bool dialup_wait_for_drop(uint32_t ms)
{
	// Seen once, as the drop notice would be: the caller hangs the link up.
	if (unnotified_link_dropped()) {
		drop_watch.unnotified_link = NULL;
		return true;
	}
	return WaitForSingleObject(drop_watch.event, ms) == WAIT_OBJECT_0;
}
