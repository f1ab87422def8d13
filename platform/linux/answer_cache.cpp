// The list answer kept between cycles. The server is asked every time; only its "not modified"
// is answered from here.
#include "platform/linux/answer_cache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

struct KeptAnswer {
	char* url;
	char* etag;
	char* last_modified;
	char* body;
	size_t size;
};
static KeptAnswer kept;

static void drop_answer()
{
	std::free(kept.url);
	std::free(kept.etag);
	std::free(kept.last_modified);
	std::free(kept.body);
	kept = KeptAnswer{};
}

static char* header_value(CURL* easy, const char* name)
{
	curl_header* header = nullptr;
	if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
		return nullptr;
	return strdup(header->value);
}

static curl_slist* add_header(curl_slist* headers, const char* name, const char* value)
{
	if (value == nullptr)
		return headers;
	size_t size = std::strlen(name) + std::strlen(value) + 3;
	char* line = static_cast<char*>(std::malloc(size));
	curl_slist* grown = nullptr;
	if (line != nullptr) {
		std::snprintf(line, size, "%s: %s", name, value);
		grown = curl_slist_append(headers, line);
		std::free(line);
	}
	if (grown == nullptr)
		curl_slist_free_all(headers);
	return grown;
}

curl_slist* answer_conditions(curl_slist* headers, const char* url)
{
	if (kept.url == nullptr || std::strcmp(kept.url, url) != 0)
		return headers;
	headers = add_header(headers, "If-None-Match", kept.etag);
	return headers ? add_header(headers, "If-Modified-Since", kept.last_modified) : nullptr;
}

// A Last-Modified less than a second before the answer's Date may hide a change later in that
// second (RFC 9110, 8.8.2.2), and an ETag may be made of that second too: such an answer, or one
// without a Date, keeps no validators, so the next request asks for the list whole.
static bool validators_hold(CURL* easy)
{
	curl_header* modified = nullptr;
	curl_header* date = nullptr;
	if (curl_easy_header(easy, "Last-Modified", 0, CURLH_HEADER, -1, &modified) != CURLHE_OK)
		return true;
	if (curl_easy_header(easy, "Date", 0, CURLH_HEADER, -1, &date) != CURLHE_OK)
		return false;
	time_t modified_at = curl_getdate(modified->value, nullptr);
	time_t dated = curl_getdate(date->value, nullptr);
	return modified_at != -1 && dated != -1 && modified_at < dated;
}

bool keep_answer(CURL* easy, const char* url, char* body, size_t size)
{
	drop_answer();
	if (!validators_hold(easy))
		return false;
	kept.etag = header_value(easy, "ETag");
	kept.last_modified = header_value(easy, "Last-Modified");
	kept.url = strdup(url);
	kept.size = size;
	if ((kept.etag == nullptr && kept.last_modified == nullptr) || kept.url == nullptr) {
		drop_answer();
		return false;
	}
	kept.body = body;
	return true;
}

const char* kept_body(const char* url, size_t* size)
{
	if (kept.url == nullptr || std::strcmp(kept.url, url) != 0)
		return nullptr;
	*size = kept.size;
	// An empty answer was received into no block at all.
	return kept.body != nullptr ? kept.body : "";
}

void kept_validators(char* text, size_t size)
{
	if (kept.etag != nullptr && kept.last_modified != nullptr)
		std::snprintf(text, size, "ETag %s, Last-Modified %s", kept.etag, kept.last_modified);
	else if (kept.etag != nullptr)
		std::snprintf(text, size, "ETag %s", kept.etag);
	else if (kept.last_modified != nullptr)
		std::snprintf(text, size, "Last-Modified %s", kept.last_modified);
	else
		std::snprintf(text, size, "none");
}
