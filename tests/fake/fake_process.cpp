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
	char bytes[4096];
	// The log may be open for appending only: read it through a descriptor of its own.
	const std::string name = log_stream ? "/proc/self/fd/" + std::to_string(fileno(log_stream)) : "";
	const int fd = open(name.c_str(), O_RDONLY);
	const size_t flushed = std::max<ssize_t>(0, pread(fd, bytes, sizeof bytes, static_cast<off_t>(fake.log_seen)));
	close(fd);
	fake.log_seen += flushed;
	fake.timeline += std::string(bytes, flushed) + "> " + what + "\n";
}

static bool answer(int result, int* error)
{
	*error = result;
	return result == 0;
}

// A wait or a sleep: noted and counted; the one a test asked for sets the exit bit.
static void note_pause(const std::string& what)
{
	fake_note(what);
	if (++fake.pauses == fake.exit_on_pause)
		control_word_write(control_word_read() | CW_EXIT);
}

bool shared_word_open(bool* existed, int* error)
{
	*existed = fake.existed;
	return answer(fake.open_error, error);
}

uint32_t* shared_word_map(int* error)
{
	return answer(fake.map_error, error) ? &fake.word : nullptr;
}

// A copy runs when the word existed; the status file is fake.published.
bool shared_word_running()
{
	return fake.existed;
}

bool shared_word_publish_status(const char* text)
{
	fake.published = text;
	return true;
}

std::FILE* shared_word_open_status()
{
	return fake.published.empty() ? nullptr : fmemopen(fake.published.data(), fake.published.size(), "r");
}

bool process_relaunch(int argc, char**, int* error)
{
	fake_note("relaunch " + std::to_string(argc) + " arguments");
	return answer(fake.relaunch_error, error);
}

bool dialup_event_create(int* error)
{
	fake_note("event");
	return answer(fake.event_error, error);
}

bool dialup_wait_for_drop(uint32_t ms)
{
	note_pause("wait " + std::to_string(ms));
	return (fake.drops >> fake.pauses & 1) != 0;
}

void process_sleep(uint32_t ms)
{
	note_pause("sleep " + std::to_string(ms));
}

bool process_catch_signals(int* error)
{
	return answer(fake.signal_error, error);
}

bool process_stop_requested()
{
	return false;
}

// After the pause it is due: the log so far goes to the timeline, the log is renamed away and,
// unless the rename is silent (as logrotate's), its reopening asked for; the timeline reads the
// new file from its start.
bool process_take_log_reopen()
{
	if (fake.rotate_on_pause == 0 || fake.pauses != fake.rotate_on_pause)
		return false;
	log_flush();
	fake_note("rotate");
	fake.rotate_on_pause = 0;
	fake.log_seen = 0;
	std::rename("lanxroute.log", "lanxroute.log.1");
	return !fake.silent_rotate;
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
	fake_note(std::string("dial ") + params->entry_name);
	*connection = attempt().handle ? attempt().handle : *connection;
	return attempt().dial;
}

uint32_t dialup_get_status(DialHandle connection, DialStatus* status)
{
	fake_note("status " + std::to_string(connection));
	status->state = attempt().state;
	status->error = attempt().error ? attempt().error : status->error; // 0 leaves it as it was
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
