#pragma once
// One list transfer through libcurl's multi interface, pumped by the caller until bytes or the end
// arrive: the HTTP layer's request objects each hold one.
#include <cstddef>
#include <cstdint>

#include <curl/curl.h>

#include "platform/linux/http_body.h"

struct ListTransfer {
	char* url;
	CURL* easy;
	CURLM* multi;
	curl_slist* headers;
	ListBody body; // the whole body received, decoded
	bool secure;   // the url is https
	bool sent, done;
	bool replayed;    // the body is the kept answer, confirmed unchanged
	bool kept;        // the body is a new answer, kept for the next request
	CURLcode stopped; // why the body refused more bytes, CURLE_OK while it takes them
	CURLcode result;
};

// Sets the transfer up for url (taking the malloc'd string), over TLS when secure; false, with
// everything released, when it cannot be.
bool transfer_open(ListTransfer* t, char* url, bool secure);
// Starts it; false when curl refuses.
bool transfer_start(ListTransfer* t);
// Runs it until at least want bytes are buffered or it has ended; want 0: until its status line
// has arrived or it has ended.
void transfer_pump(ListTransfer* t, size_t want);
// Whether the server answered: a status line arrived, or the TLS handshake of a secure url began
// and did not complete (a certificate that does not verify).
bool transfer_answered(ListTransfer* t);
// The final HTTP status; 0 when none arrived.
uint32_t transfer_status(ListTransfer* t);
// Releases everything but a kept body.
void transfer_close(ListTransfer* t);
