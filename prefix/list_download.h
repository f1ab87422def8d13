#pragma once
// Downloading the list text from the list server.

// The list text of one download, NUL-terminated, possibly empty: a block from std::malloc that the
// caller frees, or the platform's own copy of the answer, valid until the next download.
struct ListText {
	char* owned;
	const char* kept;
	bool same; // kept is the answer kept before, which the server confirmed
};

// The whole body; false when memory ran out or a read failed or came up short.
bool fetch_list_text(ListText* list);
