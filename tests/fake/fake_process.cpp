#include "tests/fake/fake_process.h"

#include <sys/stat.h>

#include <cstdio>

#include "common/control_word.h"
#include "common/log.h"
#include "platform/process.h"

FakeProcess fake_process;
std::vector<FakeCall> fake_calls;

void fake_process_reset()
{
	fake_process = FakeProcess{};
	fake_calls.clear();
}

static long log_bytes_on_disk()
{
	struct stat st;
	if (log_stream == nullptr || fstat(fileno(log_stream), &st) != 0)
		return -1;
	return static_cast<long>(st.st_size);
}

void fake_record(const std::string& what)
{
	long written = log_stream != nullptr ? std::ftell(log_stream) : -1;
	fake_calls.push_back(FakeCall{what, log_bytes_on_disk(), written});
}

std::vector<std::string> fake_call_texts()
{
	std::vector<std::string> texts;
	for (const FakeCall& call : fake_calls)
		texts.push_back(call.what);
	return texts;
}

static void count_pause()
{
	if (++fake_process.pauses == fake_process.exit_on_pause)
		control_word_write(control_word_read() | CW_EXIT);
}

bool process_relaunch(int argc, char** argv, int* error)
{
	fake_record("relaunch");
	fake_process.relaunch_argc = argc;
	fake_process.relaunch_argv = argv;
	*error = fake_process.relaunch_error;
	return fake_process.relaunch_error == 0;
}

bool event_create(int* error)
{
	fake_record("event");
	*error = fake_process.event_error;
	return fake_process.event_error == 0;
}

bool event_wait(uint32_t ms)
{
	size_t n = static_cast<size_t>(fake_process.wait_count++);
	fake_record("wait " + std::to_string(ms));
	count_pause();
	return n < fake_process.waits.size() && fake_process.waits[n];
}

void process_sleep(uint32_t ms)
{
	fake_record("sleep " + std::to_string(ms));
	count_pause();
}

bool process_catch_signals(int*)
{
	return true;
}

bool process_stop_requested()
{
	return false;
}

bool process_take_log_reopen()
{
	return false;
}
