#pragma once
// The body of a list answer as it arrives: gzip decoded here with zlib, every byte counted against
// the bound, the whole kept in one block for the reads and for a later "not modified".
#include <cstddef>

#include <curl/curl.h>
#include <zlib.h>

struct ListBody {
	char* bytes; // bytes[start, end) is not yet read
	size_t start, end, capacity;
	bool coded; // the coding is known: identity, or gzip with inflater set up
	bool gzip;  // decoded by inflater
	bool ended; // gzip: the stream's end and its trailer arrived
	z_stream inflater;
};

// Sets the coding from the answer's Content-Encoding value (null when it has none): identity or
// gzip, the only ones asked for. CURLE_BAD_CONTENT_ENCODING for any other, CURLE_OUT_OF_MEMORY.
CURLcode body_set_coding(ListBody* b, const char* encoding, size_t lines);
// Adds n bytes as they came over the wire. CURLE_BAD_CONTENT_ENCODING for a gzip stream that
// does not decode or goes on past its end; CURLE_WRITE_ERROR once more than HTTP_MOST_BODY_BYTES
// arrived (what was decoded stays readable); CURLE_OUT_OF_MEMORY.
CURLcode body_add(ListBody* b, const char* bytes, size_t n);
// Whether what arrived is a whole body: not gzip, or gzip up to its end and trailer.
bool body_whole(const ListBody* b);
// Releases the decoder, once; the block stays.
void body_end_coding(ListBody* b);
