// The HTTP seam over libcurl: handles for the session, the connection and the request, whose
// transfer is pulled piece by piece.
#include "platform/http.h"

#include <cstdlib>
#include <cstring>

#include <curl/curl.h>

#include "platform/linux/answer_cache.h"
#include "platform/linux/http_transfer.h"

namespace {

enum class HttpKind { unused, session, connection, request };

struct HttpObject {
	HttpKind kind;
	char* server;          // connection
	ListTransfer transfer; // request
};

// Handles are slot numbers plus one, so 0 stays free for a failed open.
constexpr size_t HTTP_SLOTS = 16;
// The most a data query announces.
constexpr size_t HTTP_PIECE = 0x10000;
HttpObject objects[HTTP_SLOTS];
int last_error;
bool curl_ready;

HttpObject* object_of(HttpHandle handle, HttpKind kind)
{
	if (handle == 0 || handle > HTTP_SLOTS || objects[handle - 1].kind != kind)
		return nullptr;
	return &objects[handle - 1];
}

HttpHandle new_object(HttpKind kind)
{
	for (size_t i = 0; i < HTTP_SLOTS; i++)
		if (objects[i].kind == HttpKind::unused) {
			objects[i] = HttpObject{};
			objects[i].kind = kind;
			return i + 1;
		}
	last_error = CURLE_OUT_OF_MEMORY;
	return 0;
}

} // namespace

HttpHandle http_open_session()
{
	if (!curl_ready) {
		CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
		if (rc != CURLE_OK) {
			last_error = rc;
			return 0;
		}
		curl_ready = true;
	}
	return new_object(HttpKind::session);
}

HttpHandle http_connect(HttpHandle session, const char* server)
{
	if (object_of(session, HttpKind::session) == nullptr) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return 0;
	}
	char* copy = strdup(server);
	if (copy == nullptr) {
		last_error = CURLE_OUT_OF_MEMORY;
		return 0;
	}
	HttpHandle h = new_object(HttpKind::connection);
	if (h == 0) {
		std::free(copy);
		return 0;
	}
	objects[h - 1].server = copy;
	return h;
}

HttpHandle http_open_request(HttpHandle connection, const char* path)
{
	HttpObject* c = object_of(connection, HttpKind::connection);
	if (c == nullptr) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return 0;
	}
	// A server named with "https://" is a url's start already.
	bool secure = std::strncmp(c->server, "https://", 8) == 0;
	const char* scheme = secure ? "" : "http://";
	size_t length = std::strlen(scheme) + std::strlen(c->server) + std::strlen(path) + 1;
	char* url = static_cast<char*>(std::malloc(length));
	if (url == nullptr) {
		last_error = CURLE_OUT_OF_MEMORY;
		return 0;
	}
	std::strcpy(url, scheme);
	std::strcat(url, c->server);
	std::strcat(url, path);
	HttpHandle h = new_object(HttpKind::request);
	if (h == 0) {
		std::free(url);
		return 0;
	}
	if (!transfer_open(&objects[h - 1].transfer, url, secure)) {
		objects[h - 1] = HttpObject{};
		last_error = CURLE_FAILED_INIT;
		return 0;
	}
	return h;
}

static ListTransfer* sent_transfer(HttpHandle request)
{
	HttpObject* o = object_of(request, HttpKind::request);
	if (o == nullptr || !o->transfer.sent) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return nullptr;
	}
	return &o->transfer;
}

bool http_send_request(HttpHandle request)
{
	HttpObject* o = object_of(request, HttpKind::request);
	if (o == nullptr || o->transfer.sent) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return false;
	}
	ListTransfer* r = &o->transfer;
	if (!transfer_start(r)) {
		last_error = CURLE_FAILED_INIT;
		return false;
	}
	// Waits for the status line: a transfer that fails after it is an answer that failed.
	transfer_pump(r, 0);
	if (r->done && r->result != CURLE_OK && !transfer_answered(r)) {
		last_error = r->result;
		return false;
	}
	return true;
}

bool http_query_data_available(HttpHandle request, uint32_t* announced)
{
	ListTransfer* r = sent_transfer(request);
	if (r == nullptr)
		return false;
	// Gathers what arrives into pieces of up to 64 KiB, however small the server's writes; once the
	// transfer has ended (a replayed answer too) the rest is one piece.
	transfer_pump(r, HTTP_PIECE);
	size_t buffered = r->body.end - r->body.start;
	if (buffered > 0) {
		*announced = static_cast<uint32_t>(r->done || buffered < HTTP_PIECE ? buffered : HTTP_PIECE);
		return true;
	}
	if (r->result == CURLE_OK) {
		*announced = 0;
		return true;
	}
	last_error = r->result;
	return false;
}

bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered)
{
	ListTransfer* r = sent_transfer(request);
	if (r == nullptr)
		return false;
	transfer_pump(r, count);
	size_t buffered = r->body.end - r->body.start;
	if (buffered == 0 && count > 0 && r->result != CURLE_OK) {
		last_error = r->result;
		return false;
	}
	size_t n = buffered < count ? buffered : count;
	if (n > 0)
		std::memcpy(buffer, r->body.bytes + r->body.start, n);
	r->body.start += n;
	*delivered = static_cast<uint32_t>(n);
	return true;
}

const char* http_kept_answer(HttpHandle request, uint32_t* size, bool* same)
{
	HttpObject* o = object_of(request, HttpKind::request);
	if (o == nullptr || !o->transfer.done || !(o->transfer.kept || o->transfer.replayed))
		return nullptr;
	*size = static_cast<uint32_t>(o->transfer.body.end);
	*same = o->transfer.replayed;
	// An empty answer was received into no block at all.
	return o->transfer.body.bytes != nullptr ? o->transfer.body.bytes : "";
}

uint32_t http_status(HttpHandle request)
{
	HttpObject* o = object_of(request, HttpKind::request);
	return o != nullptr ? transfer_status(&o->transfer) : 0;
}

void http_close_handle(HttpHandle handle)
{
	if (handle == 0 || handle > HTTP_SLOTS)
		return;
	HttpObject* o = &objects[handle - 1];
	if (o->kind == HttpKind::request)
		transfer_close(&o->transfer);
	std::free(o->server);
	*o = HttpObject{};
}

int http_last_error()
{
	return last_error;
}

uint32_t http_wire_status(HttpHandle request)
{
	HttpObject* o = object_of(request, HttpKind::request);
	if (o != nullptr && o->transfer.replayed)
		return 304;
	return http_status(request);
}

void http_kept_validators(char* text, uint32_t size)
{
	kept_validators(text, size);
}
