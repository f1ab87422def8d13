#pragma once
// The last list answer that carried a validator, kept so that the next request can be made
// conditional and a "not modified" answer can deliver the same body again.
#include <cstddef>

#include <curl/curl.h>

// Adds If-None-Match / If-Modified-Since for url to headers when an answer for it is kept; the
// grown list, or null when memory ran out (headers is then freed).
curl_slist* answer_conditions(curl_slist* headers, const char* url);
// Keeps a 200 answer's body (taking the malloc'd block, NUL-terminated at size) with its
// validators; an answer without any, or whose Last-Modified is not a second before its Date, is
// not kept (the block stays the caller's), and what was kept is dropped. true when kept.
bool keep_answer(CURL* easy, const char* url, char* body, size_t size);
// The kept body for url, with its size, valid until the next answer is kept; null when none is.
const char* kept_body(const char* url, size_t* size);
// The kept validators as "ETag x, Last-Modified y" (either alone), "none" when none; cut to size.
void kept_validators(char* text, size_t size);
