#include "tests/fake/fake_dialup.h"

#include <string>

#include "common/control_word.h"
#include "tests/fake/fake_process.h"

std::vector<FakeDialAttempt> fake_dial_attempts;
static size_t attempt_index;

FakeDialAttempt fake_dial_connects(DialConnection handle)
{
	return FakeDialAttempt{0, 0, handle, 0, DIAL_STATE_CONNECTED, 0};
}

FakeDialAttempt fake_dial_fails(uint32_t result, DialConnection handle)
{
	return FakeDialAttempt{0, result, handle, 0, DIAL_STATE_CONNECTED, 0};
}

void fake_dialup_reset()
{
	fake_dial_attempts.clear();
	attempt_index = 0;
}

static FakeDialAttempt current()
{
	if (fake_dial_attempts.empty())
		return fake_dial_connects(1);
	size_t i = attempt_index == 0 ? 0 : attempt_index - 1;
	if (i >= fake_dial_attempts.size())
		i = fake_dial_attempts.size() - 1;
	return fake_dial_attempts[i];
}

uint32_t dialup_get_entry_params(DialParams* params)
{
	attempt_index++;
	fake_record(std::string("params ") + params->entry_name);
	// Stands for what the phonebook fills in; the dial checks it arrived.
	params->platform_record[0] = 1;
	return current().params_result;
}

uint32_t dialup_dial(DialParams* params, DialConnection* connection)
{
	fake_record(std::string("dial ") + params->entry_name +
		    (params->platform_record[0] == 1 ? "" : " unfilled"));
	if (++fake_process.dials == fake_process.exit_on_dial)
		control_word_write(control_word_read() | CW_EXIT);
	FakeDialAttempt a = current();
	*connection = a.handle;
	return a.dial_result;
}

uint32_t dialup_get_status(DialConnection connection, DialStatus* status)
{
	fake_record("status " + std::to_string(connection));
	FakeDialAttempt a = current();
	status->state = a.state;
	status->error = a.error;
	return a.status_result;
}

void dialup_hang_up(DialConnection connection)
{
	fake_record("hangup " + std::to_string(connection));
}

void dialup_notify_on_drop(DialConnection connection)
{
	fake_record("notify " + std::to_string(connection));
}
