#pragma once
// Downloading the list text from the list server.
#include <cstdint>
#include <ctime>

// The whole body as a NUL-terminated text from std::malloc (the caller frees it), possibly
// empty; null when memory ran out or a read failed or came up short.
char* fetch_list_text();

// The last answer: the server's own status (304 for a list not modified, 0 when none came), the
// bytes of list text it gave, and when the last 200 came (0 before any).
extern uint32_t list_answer_status;
extern uint32_t list_answer_bytes;
extern std::time_t list_last_full_answer;
