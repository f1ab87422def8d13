#pragma once
// Downloading the list text from the list server.

// The whole body as a NUL-terminated text from std::malloc (the caller frees it), possibly
// empty; null when memory ran out or a read failed or came up short.
char* fetch_list_text();
