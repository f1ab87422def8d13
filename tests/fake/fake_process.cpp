#include "tests/fake/fake_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "common/control_word.h"
#include "common/log.h"
#include "platform/process.h"
#include "platform/shared_word.h"

Fake fake;

void fake_note(const std::string& what)
{
	char buffer[4096];
	// The log may be open for appending only: read it through a descriptor of its own.
	int fd = log_stream ? open(("/proc/self/fd/" + std::to_string(fileno(log_stream))).c_str(), O_RDONLY) : -1;
	size_t flushed = std::max<ssize_t>(0, pread(fd, buffer, sizeof buffer, static_cast<off_t>(fake.log_seen)));
	close(fd);
	fake.log_seen += flushed;
	fake.timeline += std::string(buffer, flushed) + "> " + what + "\n";
}

// A wait or a sleep: noted and counted; the one a test asked for sets the exit bit.
static void note_pause(const std::string& what)
{
	fake_note(what);
	fake.pauses++;
	if (fake.pauses == fake.exit_on_pause)
		control_word_write(control_word_read() | CW_EXIT);
}

bool shared_word_open(bool* existed, int* error)
{
	*existed = fake.existed;
	*error = fake.open_error;
	return *error == 0;
}

uint32_t* shared_word_map(int* error)
{
	*error = fake.map_error;
	return *error == 0 ? &fake.word : nullptr;
}

bool process_relaunch(int argc, char**, int* error)
{
	fake_note("relaunch " + std::to_string(argc) + " arguments");
	*error = fake.relaunch_error;
	return *error == 0;
}

bool event_create(int* error)
{
	fake_note("event");
	*error = fake.event_error;
	return *error == 0;
}

bool event_wait(uint32_t ms)
{
	note_pause("wait " + std::to_string(ms));
	return (fake.drops >> fake.pauses & 1) != 0;
}

bool process_catch_signals(int* error)
{
	*error = fake.signal_error;
	return *error == 0;
}

bool process_stop_requested()
{
	return false;
}

// A rotation after the pause it is due: what the log holds goes to the timeline, the log is renamed
// away and its reopening asked for; the timeline reads the new file from its start.
bool process_take_log_reopen()
{
	if (fake.rotate_on_pause == 0 || fake.pauses != fake.rotate_on_pause)
		return false;
	std::fflush(log_stream);
	fake_note("rotate");
	fake.rotate_on_pause = 0;
	fake.log_seen = 0;
	std::rename("lanxroute.log", "lanxroute.log.1");
	return true;
}

void process_sleep(uint32_t ms)
{
	note_pause("sleep " + std::to_string(ms));
}

static const FakeDial& attempt()
{
	return fake.dials.at(std::min(fake.attempts, fake.dials.size()) - 1);
}

uint32_t dialup_get_entry_params(DialParams* params)
{
	fake.attempts++;
	fake_note(std::string("params ") + params->entry_name + (params->platform_record[0] ? " unzeroed" : ""));
	params->platform_record[0] = 1;
	return attempt().params;
}

uint32_t dialup_dial(DialParams* params, DialConnection* connection)
{
	fake_note(std::string("dial ") + params->entry_name);
	if (attempt().handle != 0)
		*connection = attempt().handle;
	return attempt().dial;
}

uint32_t dialup_get_status(DialConnection connection, DialStatus* status)
{
	fake_note("status " + std::to_string(connection));
	status->state = attempt().state;
	if (attempt().error != 0) // an error of 0 leaves it as it was
		status->error = attempt().error;
	return attempt().status;
}

void dialup_hang_up(DialConnection connection)
{
	fake_note("hangup " + std::to_string(connection));
}

void dialup_notify_on_drop(DialConnection connection)
{
	fake_note("notify " + std::to_string(connection));
}
