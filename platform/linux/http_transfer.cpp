// The list transfer: the write callback only buffers, and each pump runs the transfer until bytes
// or the end arrive. The request is conditional on the last answer kept, and a "not modified"
// delivers that answer.
#include "platform/linux/http_transfer.h"

#include <cstdlib>
#include <cstring>

#include "platform/linux/answer_cache.h"
#include "platform/linux/stop_signal.h"
#include "platform/process.h"

static size_t buffer_body(char* bytes, size_t size, size_t count, void* data)
{
	auto* r = static_cast<ListTransfer*>(data);
	size_t n = size * count;
	// The whole body stays, to be kept for a later "not modified".
	if (r->capacity - r->end < n) {
		size_t bigger = r->capacity ? r->capacity : 0x4000;
		while (bigger - r->end < n)
			bigger *= 2;
		char* grown = static_cast<char*>(std::realloc(r->body, bigger));
		if (grown == nullptr)
			return 0; // curl ends the transfer with a write error
		r->body = grown;
		r->capacity = bigger;
	}
	std::memcpy(r->body + r->end, bytes, n);
	r->end += n;
	r->total += n;
	return n;
}

static long response_code(CURL* easy)
{
	long code = 0;
	curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
	return code;
}

// A "not modified" answer to our conditional request delivers the kept body as its own.
static void replay_if_unchanged(ListTransfer* r)
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
void transfer_pump(ListTransfer* r, size_t want)
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

static bool set_options(ListTransfer* r, const char* url)
{
	// A failed append leaves the list as it was, for transfer_close to free.
	r->headers = curl_slist_append(nullptr, "Pragma: no-cache");
	if (r->headers == nullptr || curl_slist_append(r->headers, "Cache-Control: no-cache") == nullptr)
		return false;
	r->headers = answer_conditions(r->headers, url);
	if (r->headers == nullptr)
		return false;
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

void transfer_close(ListTransfer* r)
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
	*r = ListTransfer{};
}

bool transfer_open(ListTransfer* r, char* url)
{
	*r = ListTransfer{};
	r->url = url;
	r->easy = curl_easy_init();
	r->multi = curl_multi_init();
	if (r->easy != nullptr && r->multi != nullptr && set_options(r, url))
		return true;
	transfer_close(r);
	return false;
}

bool transfer_start(ListTransfer* r)
{
	if (curl_multi_add_handle(r->multi, r->easy) != CURLM_OK)
		return false;
	r->sent = true;
	return true;
}

uint32_t transfer_status(ListTransfer* r)
{
	// The kept answer stands for the list the server confirmed. After a redirect that is not
	// followed, the status is the redirect's own.
	return r->replayed ? 200 : static_cast<uint32_t>(response_code(r->easy));
}
