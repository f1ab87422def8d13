#pragma once
// The log stream pointed at a temporary file of the test's own, and read back.
#include <string>

// Opens a fresh, empty log file for this test.
void test_log_start();
// Everything written to the log so far (flushes the stream first).
std::string test_log_text();
