#pragma once
// The scripted process layer: relaunch and event results, waits and sleeps that return at once,
// one timeline of every platform call this layer and the dial-up layer receive.
#include <string>
#include <vector>

struct FakeCall {
	std::string what;	// "wait 5000", "sleep 1000", "params NAME", "hangup 7", ...
	long log_bytes;		// bytes of the log file on disk at that moment; -1 without a log
	long log_written;	// bytes written to the log stream so far, buffered or not
};

struct FakeProcess {
	int relaunch_error;		// nonzero fails the relaunch with it
	int event_error;		// nonzero fails the event's creation with it
	std::vector<bool> waits;	// the n-th wait's result: signalled; a wait beyond the list times out
	int exit_on_pause;		// the n-th wait or sleep sets CW_EXIT (1-based; 0 never)
	int exit_on_dial;		// the n-th dial sets CW_EXIT
	int pauses;
	int wait_count;
	int dials;
	int relaunch_argc;
	char** relaunch_argv;
};

extern FakeProcess fake_process;
extern std::vector<FakeCall> fake_calls;

// Everything succeeds, nothing recorded, no exit scripted.
void fake_process_reset();
// Adds what to the timeline with the log's size on disk and as written.
void fake_record(const std::string& what);
// The timeline's texts only.
std::vector<std::string> fake_call_texts();
