#include "tests/fake/fake_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "common/control_word.h"
#include "common/log.h"
#include "platform/process.h"
#include "platform/shared_word.h"

Fake fake;

const std::string& fake_note(const std::string& what)
{
	char buffer[4096];
	// The log may be open for appending only: read it through a descriptor of its own.
	int fd = log_stream ? open(("/proc/self/fd/" + std::to_string(fileno(log_stream))).c_str(), O_RDONLY) : -1;
	size_t flushed = std::max<ssize_t>(0, pread(fd, buffer, sizeof buffer, static_cast<off_t>(fake.log_seen)));
	close(fd);
	fake.log_seen += flushed;
	return fake.timeline += std::string(buffer, flushed) + "> " + what + "\n";
}

static bool note_and_answer(const std::string& what, int result, int* error)
{
	fake_note(what);
	return (*error = result) == 0;
}

// The count after this call.
static size_t note_and_count(const std::string& what, size_t* count, size_t exit_at)
{
	fake_note(what);
	control_word_write(control_word_read() | (++*count == exit_at ? CW_EXIT : 0));
	return *count;
}

bool shared_word_open(bool* existed, int* error)
{
	*existed = fake.existed;
	return (*error = fake.open_error) == 0;
}

uint32_t* shared_word_map(int* error)
{
	return (*error = fake.map_error) == 0 ? &fake.word : nullptr;
}

bool process_relaunch(int argc, char**, int* error)
{
	return note_and_answer("relaunch " + std::to_string(argc) + " arguments", fake.relaunch_error, error);
}

bool dialup_event_create(int* error)
{
	return note_and_answer("event", fake.event_error, error);
}

bool process_catch_signals(int* error)
{
	return (*error = fake.signal_error) == 0;
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
	std::fflush(log_stream), fake_note("rotate"), fake.rotate_on_pause = 0, fake.log_seen = 0;
	return std::rename("lanxroute.log", "lanxroute.log.1") == 0;
}

bool dialup_wait_for_drop(uint32_t ms)
{
	return fake.drops >> note_and_count("wait " + std::to_string(ms), &fake.pauses, fake.exit_on_pause) & 1;
}

void process_sleep(uint32_t ms)
{
	note_and_count("sleep " + std::to_string(ms), &fake.pauses, fake.exit_on_pause);
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

uint32_t dialup_dial(DialParams* params, DialHandle* connection)
{
	note_and_count(std::string("dial ") + params->entry_name, &fake.dialled, fake.exit_on_dial);
	*connection = attempt().handle ? attempt().handle : *connection; // a handle of 0 leaves it as it was
	return attempt().dial;
}

uint32_t dialup_get_status(DialHandle connection, DialStatus* status)
{
	fake_note("status " + std::to_string(connection));
	status->state = attempt().state;
	status->error = attempt().error ? attempt().error : status->error; // an error of 0 leaves it as it was
	return attempt().status;
}

void dialup_hang_up(DialHandle connection)
{
	fake_note("hangup " + std::to_string(connection));
}

void dialup_notify_on_drop(DialHandle connection)
{
	fake_note("notify " + std::to_string(connection));
}
