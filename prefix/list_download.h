#pragma once
// Downloading the list text from the list server.
#include <cstdint>
#include <ctime>

// The list text of one download, NUL-terminated, possibly empty: a block from std::malloc that the
// caller frees, or the platform's own copy of the answer, valid until the next download.
struct ListText {
	char* owned;
	const char* kept;
	bool same; // kept is the answer kept before, which the server confirmed
};

// The whole body; false when memory ran out or a read failed or came up short.
bool fetch_list_text(ListText* list);

// The last answer: the server's own status (304 for a list not modified, 0 when none came), the
// bytes of list text it gave, and when the last 200 came (0 before any).
extern uint32_t list_answer_status;
extern uint32_t list_answer_bytes;
extern std::time_t list_last_full_answer;
