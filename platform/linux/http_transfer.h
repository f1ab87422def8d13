#pragma once
// One list transfer through libcurl's multi interface, pumped by the caller until bytes or the end
// arrive: the HTTP layer's request objects each hold one.
#include <cstddef>
#include <cstdint>

#include <curl/curl.h>

struct ListTransfer {
	char* url;
	CURL* easy;
	CURLM* multi;
	curl_slist* headers;
	char* body; // the whole body received; body[start, end) is not yet read
	size_t start, end, capacity;
	size_t total; // body bytes ever received
	bool sent, done;
	bool replayed; // the body is the kept answer, confirmed unchanged
	CURLcode result;
};

// Sets the transfer up for url (taking the malloc'd string); false, with everything released,
// when it cannot be.
bool transfer_open(ListTransfer* t, char* url);
// Starts it; false when curl refuses.
bool transfer_start(ListTransfer* t);
// Runs it until at least want bytes are buffered or it has ended.
void transfer_pump(ListTransfer* t, size_t want);
// The final HTTP status; 0 when none arrived.
uint32_t transfer_status(ListTransfer* t);
// Releases everything, keeping a whole new list for the next request's condition.
void transfer_close(ListTransfer* t);
