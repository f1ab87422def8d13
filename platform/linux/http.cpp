// The list request over libcurl, pulled piece by piece through the multi interface: the
// write callback only buffers, and each query pumps the transfer until bytes or the end arrive.
// The request is conditional on the last answer kept, and a "not modified" delivers that answer.
#include "platform/http.h"

#include <cstdlib>
#include <cstring>

#include <curl/curl.h>

#include "platform/linux/answer_cache.h"
#include "platform/linux/stop_signal.h"
#include "platform/process.h"

namespace {

enum class HttpKind { unused, session, connection, request };

struct HttpObject {
	HttpKind kind;
	char* server;		// connection
	char* url;		// request, and the rest below
	CURL* easy;
	CURLM* multi;
	curl_slist* headers;
	char* body;		// the whole body received; body[start, end) is not yet read
	size_t start, end, capacity;
	size_t total;		// body bytes ever received
	bool sent, done;
	bool replayed;		// the body is the kept answer, confirmed unchanged
	CURLcode result;
};

// Handles are slot numbers plus one, so 0 stays free for a failed open.
constexpr size_t HTTP_SLOTS = 16;
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

size_t buffer_body(char* bytes, size_t size, size_t count, void* data)
{
	auto* r = static_cast<HttpObject*>(data);
	size_t n = size * count;
	// The whole body stays, to be kept for a later "not modified".
	if (r->capacity - r->end < n) {
		size_t bigger = r->capacity ? r->capacity : 0x4000;
		while (bigger - r->end < n)
			bigger *= 2;
		char* grown = static_cast<char*>(std::realloc(r->body, bigger));
		if (grown == nullptr)
			return 0;	// curl ends the transfer with a write error
		r->body = grown;
		r->capacity = bigger;
	}
	std::memcpy(r->body + r->end, bytes, n);
	r->end += n;
	r->total += n;
	return n;
}

long response_code(CURL* easy)
{
	long code = 0;
	curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
	return code;
}

// A "not modified" answer to our conditional request delivers the kept body as its own.
void replay_if_unchanged(HttpObject* r)
{
	if (r->result != CURLE_OK || response_code(r->easy) != 304)
		return;
	size_t size = 0;
	const char* body = kept_body(r->url, &size);
	if (body == nullptr)
		return;
	std::free(r->body);
	// Read in place: the request never writes to its body once the transfer is done.
	r->body = const_cast<char*>(body);
	r->start = 0;
	r->end = r->total = r->capacity = size;
	r->replayed = true;
}

// Runs the transfer until at least want bytes are buffered or it has ended.
void pump(HttpObject* r, size_t want)
{
	while (!r->done && r->end - r->start < want) {
		int running = 0;
		CURLMcode mc = curl_multi_perform(r->multi, &running);
		int left = 0;
		while (CURLMsg* msg = curl_multi_info_read(r->multi, &left))
			if (msg->msg == CURLMSG_DONE) {
				r->done = true;
				r->result = msg->data.result;
				replay_if_unchanged(r);
			}
		if (mc != CURLM_OK && !r->done) {
			r->done = true;
			r->result = CURLE_FAILED_INIT;
		}
		if (r->done || r->end - r->start >= want)
			break;
		// A stop request ends the transfer as failed; the stop descriptor wakes the poll for it.
		if (process_stop_requested()) {
			r->done = true;
			r->result = CURLE_ABORTED_BY_CALLBACK;
			break;
		}
		// Wakes at least once a second so curl's own time-outs are checked.
		curl_waitfd stop = {stop_signal_fd(), CURL_WAIT_POLLIN, 0};
		curl_multi_poll(r->multi, &stop, stop.fd >= 0 ? 1 : 0, 1000, nullptr);
	}
}

bool set_options(HttpObject* r, const char* url)
{
	r->headers = curl_slist_append(nullptr, "Pragma: no-cache");
	curl_slist* more = r->headers ? curl_slist_append(r->headers, "Cache-Control: no-cache") : nullptr;
	if (more != nullptr)
		more = answer_conditions(more, url);
	if (more == nullptr) {
		r->headers = nullptr;
		return false;
	}
	r->headers = more;
	CURL* e = r->easy;
	return curl_easy_setopt(e, CURLOPT_URL, url) == CURLE_OK &&
	    // Any encoding curl can decode: the text handed on is the same.
	    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_PORT, 80L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_USERAGENT, "LANXRoute") == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->headers) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 60L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 60L) == CURLE_OK &&
	    // The whole download, a dripping server's too, ends within two minutes.
	    curl_easy_setopt(e, CURLOPT_TIMEOUT, 120L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, buffer_body) == CURLE_OK &&
	    curl_easy_setopt(e, CURLOPT_WRITEDATA, r) == CURLE_OK;
}

void release_request(HttpObject* r)
{
	// A whole new list is kept, with its validators, for the next request.
	if (r->done && !r->replayed && r->result == CURLE_OK && response_code(r->easy) == 200) {
		keep_answer(r->easy, r->url, r->body, r->end);
		r->body = nullptr;
	}
	// A replayed body belongs to the kept answer.
	if (r->replayed)
		r->body = nullptr;
	if (r->multi != nullptr && r->easy != nullptr && r->sent)
		curl_multi_remove_handle(r->multi, r->easy);
	if (r->easy != nullptr)
		curl_easy_cleanup(r->easy);
	if (r->multi != nullptr)
		curl_multi_cleanup(r->multi);
	curl_slist_free_all(r->headers);
	std::free(r->body);
	std::free(r->url);
	*r = HttpObject{};
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
	size_t length = 7 + std::strlen(c->server) + std::strlen(path) + 1;
	char* url = static_cast<char*>(std::malloc(length));
	if (url == nullptr) {
		last_error = CURLE_OUT_OF_MEMORY;
		return 0;
	}
	std::strcpy(url, "http://");
	std::strcat(url, c->server);
	std::strcat(url, path);
	HttpHandle h = new_object(HttpKind::request);
	if (h == 0) {
		std::free(url);
		return 0;
	}
	HttpObject* r = &objects[h - 1];
	r->url = url;
	r->easy = curl_easy_init();
	r->multi = curl_multi_init();
	bool ok = r->easy != nullptr && r->multi != nullptr && set_options(r, url);
	if (!ok) {
		release_request(r);
		last_error = CURLE_FAILED_INIT;
		return 0;
	}
	return h;
}

bool http_send_request(HttpHandle request)
{
	HttpObject* r = object_of(request, HttpKind::request);
	if (r == nullptr || r->sent) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return false;
	}
	if (curl_multi_add_handle(r->multi, r->easy) != CURLM_OK) {
		last_error = CURLE_FAILED_INIT;
		return false;
	}
	r->sent = true;
	pump(r, 1);
	if (r->done && r->result != CURLE_OK && r->total == 0) {
		last_error = r->result;
		return false;
	}
	return true;
}

bool http_query_data_available(HttpHandle request, uint32_t* announced)
{
	HttpObject* r = object_of(request, HttpKind::request);
	if (r == nullptr || !r->sent) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return false;
	}
	pump(r, 1);
	size_t buffered = r->end - r->start;
	if (buffered > 0) {
		*announced = buffered > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(buffered);
		return true;
	}
	if (r->result == CURLE_OK) {
		*announced = 0;
		return true;
	}
	if (r->total == 0) {
		last_error = r->result;
		return false;
	}
	// The body broke off: announce a byte so that the read reports the failure.
	*announced = 1;
	return true;
}

bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered)
{
	HttpObject* r = object_of(request, HttpKind::request);
	if (r == nullptr || !r->sent) {
		last_error = CURLE_BAD_FUNCTION_ARGUMENT;
		return false;
	}
	pump(r, count);
	size_t buffered = r->end - r->start;
	if (buffered == 0 && count > 0 && r->result != CURLE_OK) {
		last_error = r->result;
		return false;
	}
	size_t n = buffered < count ? buffered : count;
	if (n > 0)
		std::memcpy(buffer, r->body + r->start, n);
	r->start += n;
	*delivered = static_cast<uint32_t>(n);
	return true;
}

uint32_t http_status(HttpHandle request)
{
	HttpObject* r = object_of(request, HttpKind::request);
	if (r == nullptr)
		return 0;
	// The kept answer stands for the list the server confirmed. After a redirect that is not
	// followed, the status is the redirect's own.
	return r->replayed ? 200 : static_cast<uint32_t>(response_code(r->easy));
}

void http_close_handle(HttpHandle handle)
{
	if (handle == 0 || handle > HTTP_SLOTS)
		return;
	HttpObject* o = &objects[handle - 1];
	if (o->kind == HttpKind::request)
		release_request(o);
	std::free(o->server);
	*o = HttpObject{};
}

int http_last_error()
{
	return last_error;
}
