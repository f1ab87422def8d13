// The list transfer: the write callback hands the bytes to the body, and each pump runs the
// transfer until bytes or the end arrive. The request is conditional on the last answer kept,
// and a "not modified" delivers that answer.
#include "platform/linux/http_transfer.h"

#include <cstdlib>

#include "platform/linux/answer_cache.h"
#include "platform/linux/stop_signal.h"
#include "platform/process.h"

static long response_code(CURL* easy)
{
	long code = 0;
	curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
	return code;
}

// The coding the answer's Content-Encoding names, once its headers are in.
static CURLcode set_coding(ListTransfer* r)
{
	curl_header* h = nullptr;
	if (curl_easy_header(r->easy, "Content-Encoding", 0, CURLH_HEADER, -1, &h) != CURLHE_OK)
		return body_set_coding(&r->body, nullptr, 0);
	return body_set_coding(&r->body, h->value, h->amount);
}

static size_t take_body(char* bytes, size_t size, size_t count, void* data)
{
	auto* r = static_cast<ListTransfer*>(data);
	if (!r->body.coded)
		r->stopped = set_coding(r);
	if (r->stopped == CURLE_OK)
		r->stopped = body_add(&r->body, bytes, size * count);
	// A short count makes curl end the transfer.
	return r->stopped == CURLE_OK ? size * count : 0;
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
	std::free(r->body.bytes);
	// Read in place: the request never writes to its body once the transfer is done.
	r->body.bytes = const_cast<char*>(body);
	r->body.start = 0;
	r->body.end = r->body.capacity = size;
	r->replayed = true;
}

// A whole new list is kept, with its validators, for the next request, NUL-terminated so that it
// can be read in place.
static void keep_if_new(ListTransfer* r)
{
	if (r->result != CURLE_OK || r->replayed || response_code(r->easy) != 200)
		return;
	ListBody* b = &r->body;
	if (b->capacity <= b->end) {
		char* grown = static_cast<char*>(std::realloc(b->bytes, b->end + 1));
		if (grown == nullptr)
			return;
		b->bytes = grown;
		b->capacity = b->end + 1;
	}
	b->bytes[b->end] = '\0';
	r->kept = keep_answer(r->easy, r->url, b->bytes, b->end);
}

// The transfer's result: the body's own reason when it stopped the transfer, and a gzip body
// without its end or an encoding not asked for fails an answer curl took as whole.
static void finish(ListTransfer* r, CURLcode result)
{
	r->done = true;
	r->result = result;
	if (r->result == CURLE_OK && response_code(r->easy) != 304 && !r->body.coded)
		r->stopped = set_coding(r);
	if (r->stopped != CURLE_OK)
		r->result = r->stopped;
	else if (r->result == CURLE_OK && !body_whole(&r->body))
		r->result = CURLE_BAD_CONTENT_ENCODING;
	replay_if_unchanged(r);
	keep_if_new(r);
}

static bool enough(ListTransfer* r, size_t want)
{
	return want == 0 ? response_code(r->easy) != 0 : r->body.end - r->body.start >= want;
}

void transfer_pump(ListTransfer* r, size_t want)
{
	while (!r->done && !enough(r, want)) {
		int running = 0;
		CURLMcode mc = curl_multi_perform(r->multi, &running);
		int left = 0;
		while (CURLMsg* msg = curl_multi_info_read(r->multi, &left))
			if (msg->msg == CURLMSG_DONE)
				finish(r, msg->data.result);
		if (mc != CURLM_OK && !r->done)
			finish(r, CURLE_FAILED_INIT);
		if (r->done || enough(r, want))
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

bool transfer_answered(ListTransfer* r)
{
	if (response_code(r->easy) != 0)
		return true;
	// The peer's address is known once a connection was made; the TLS time once its handshake ended.
	char* peer = nullptr;
	curl_off_t secured = 0;
	curl_easy_getinfo(r->easy, CURLINFO_PRIMARY_IP, &peer);
	curl_easy_getinfo(r->easy, CURLINFO_APPCONNECT_TIME_T, &secured);
	return r->secure && peer != nullptr && *peer != '\0' && secured == 0;
}

static bool set_options(ListTransfer* r, const char* url)
{
	// A failed append leaves the list as it was, for transfer_close to free.
	r->headers = curl_slist_append(nullptr, "Pragma: no-cache");
	if (r->headers == nullptr || curl_slist_append(r->headers, "Cache-Control: no-cache") == nullptr ||
	    curl_slist_append(r->headers, "Accept-Encoding: gzip") == nullptr)
		return false;
	r->headers = answer_conditions(r->headers, url);
	if (r->headers == nullptr)
		return false;
	CURL* e = r->easy;
	// Redirects may go from http to https, never back.
	const char* protocols = r->secure ? "https" : "http,https";
	return curl_easy_setopt(e, CURLOPT_URL, url) == CURLE_OK &&
	       // gzip is asked for and decoded by the body, so that its bound counts decoded bytes.
	       curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L) == CURLE_OK &&
	       curl_easy_setopt(e, CURLOPT_PORT, r->secure ? 443L : 80L) == CURLE_OK &&
	       curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, protocols) == CURLE_OK &&
	       curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, protocols) == CURLE_OK &&
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
	       curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, take_body) == CURLE_OK &&
	       curl_easy_setopt(e, CURLOPT_WRITEDATA, r) == CURLE_OK;
}

void transfer_close(ListTransfer* r)
{
	// A kept or replayed body belongs to the kept answer.
	if (r->kept || r->replayed)
		r->body.bytes = nullptr;
	body_end_coding(&r->body);
	if (r->multi != nullptr && r->easy != nullptr && r->sent)
		curl_multi_remove_handle(r->multi, r->easy);
	if (r->easy != nullptr)
		curl_easy_cleanup(r->easy);
	if (r->multi != nullptr)
		curl_multi_cleanup(r->multi);
	curl_slist_free_all(r->headers);
	std::free(r->body.bytes);
	std::free(r->url);
	*r = ListTransfer{};
}

bool transfer_open(ListTransfer* r, char* url, bool secure)
{
	*r = ListTransfer{};
	r->url = url;
	r->secure = secure;
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
