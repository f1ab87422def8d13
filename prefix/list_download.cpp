#include "prefix/list_download.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"
#include "platform/http.h"

namespace {

// 128 KiB to start: a short list needs no copy, and a long one reaches its size in a few doublings.
constexpr uint32_t LIST_FIRST_CAPACITY = 0x20000;
// 32 times the largest public list: a body beyond it is a server gone wrong, not a list.
constexpr uint32_t LIST_MOST_BYTES = HTTP_MOST_BODY_BYTES;

void close_all(HttpHandle hi, HttpHandle hc, HttpHandle hr)
{
	http_close_handle(hr);
	http_close_handle(hc);
	http_close_handle(hi);
}

// Doubles *capacity until received + announced fits with one byte to spare, copying what was
// received once into a block of the final size; a doubling that would reach the bound gives the
// bound and its byte at once, so a body near the bound is never copied. false when the body would
// pass its bound or memory runs out; *buffer is then the old block.
bool grow_list_buffer(char** buffer, uint32_t* capacity, uint32_t received, uint32_t announced)
{
	uint64_t needed = uint64_t{received} + announced;
	if (needed > LIST_MOST_BYTES) {
		log_write("List text passes %u MiB\n", LIST_MOST_BYTES >> 20);
		return false;
	}
	uint64_t bigger = *capacity;
	while (needed >= bigger)
		bigger = bigger * 2 >= LIST_MOST_BYTES ? uint64_t{LIST_MOST_BYTES} + 1 : bigger * 2;
	if (bigger == *capacity)
		return true;
	char* block = static_cast<char*>(std::malloc(bigger));
	if (block == nullptr)
		return false;
	std::memcpy(block, *buffer, received);
	std::free(*buffer);
	*buffer = block;
	*capacity = static_cast<uint32_t>(bigger);
	return true;
}

// Whether the last answer the platform kept was a list.
bool kept_is_list;

// Whether the answer is the one kept before, which the server confirmed: it is read in place,
// and the platform announces it whole.
bool same_answer(HttpHandle hr, uint32_t announced)
{
	uint32_t size = 0;
	bool same = false;
	const char* kept = http_kept_answer(hr, &size, &same);
	if (kept == nullptr || !same || size != announced)
		return false;
	log_write("  len=%x\n", announced);
	return true;
}

// Reads the body into *buffer as the server announces it, piece by piece, unless it is the answer
// kept before. false when an exit request, the bound, memory or a failed or short read cut it off.
// Once the request was sent, a failed query is an answer that failed too; before, nothing can be
// read and the text is empty.
bool read_body(HttpHandle hr, bool sent, char** buffer, uint32_t* capacity, uint32_t* received)
{
	uint32_t announced = 0;
	bool queried = http_query_data_available(hr, &announced);
	if (!queried && !sent) {
		log_write("Error no data: %d\n", http_last_error());
		return true;
	}
	if (queried && announced != 0 && same_answer(hr, announced))
		return true;
	while (queried && announced != 0) {
		log_write("  len=%x\n", announced);
		uint32_t delivered = 0;
		if (exit_requested() || !grow_list_buffer(buffer, capacity, *received, announced))
			return false;
		queried = http_read(hr, *buffer + *received, announced, &delivered);
		if (!queried)
			break;
		if (delivered != announced)
			return false;
		*received += announced;
		queried = http_query_data_available(hr, &announced);
	}
	if (!queried) {
		log_write("Error reading HTTP response: %d\n", http_last_error());
		return false;
	}
	if (*received == 0)
		log_write("Error no data: %d\n", http_last_error());
	return true;
}

// Whether a body read to its end is a list, after the line that says why not; scan: look for a
// NUL byte.
bool is_list_body(const char* buffer, uint32_t received, uint32_t status, bool scan)
{
	// An exit request during the download, even one that cut it off before any byte came, is a
	// failed read: an empty text would sweep every route on the way out.
	if (exit_requested())
		return false;
	// An error page or a redirect not followed is not a list: the list stays as it was.
	if (status != 0 && (status < 200 || status > 299)) {
		log_write("List server answered %u\n", status);
		return false;
	}
	// Nor is a text with a NUL byte in it, such as a list served as UTF-16.
	if (scan && std::memchr(buffer, '\0', received) != nullptr) {
		log_write("List text holds a NUL byte\n");
		return false;
	}
	return true;
}

} // namespace

uint32_t list_answer_status;
uint32_t list_answer_bytes;
std::time_t list_last_full_answer;

bool fetch_list_text(ListText* list)
{
	*list = ListText{};
	uint32_t capacity = LIST_FIRST_CAPACITY;
	char* buffer = static_cast<char*>(std::malloc(capacity));
	if (buffer == nullptr)
		return false;
	uint32_t received = 0;

	// A server named with "https://" is fetched over TLS.
	const char* scheme = std::strncmp(list_server, "https://", 8) == 0 ? "" : "http://";
	log_write("Loading subnet list from %s%s%s\n", scheme, list_server, list_path);
	HttpHandle hi = http_open_session();
	HttpHandle hc = http_connect(hi, list_server);
	HttpHandle hr = http_open_request(hc, list_path);
	log_write("  handles hi=%x, hc=%x, hr=%x\n", static_cast<unsigned>(hi), static_cast<unsigned>(hc),
		  static_cast<unsigned>(hr));

	bool sent = http_send_request(hr);
	if (!sent) {
		log_write("Error sending HTTP request: %d\n", http_last_error());
		log_write("  server: '%s' path: '%s'\n", list_server, list_path);
	}

	bool read = read_body(hr, sent, &buffer, &capacity, &received);
	// The status is asked only of a body read to its end.
	uint32_t status = read ? http_status(hr) : 0;
	list_answer_status = read ? http_wire_status(hr) : 0;
	if (read && list_answer_status == 200)
		list_last_full_answer = std::time(nullptr);
	// An answer the platform keeps is read from there: one copy of the text.
	uint32_t kept_size = 0;
	const char* kept = read ? http_kept_answer(hr, &kept_size, &list->same) : nullptr;
	if (kept != nullptr) {
		list->kept = kept;
		received = kept_size;
	}
	close_all(hi, hc, hr);
	list_answer_bytes = received;
	const char* text = kept ? kept : buffer;
	// A confirmed answer that was a list is one still.
	bool ok = read && is_list_body(text, received, status, !(list->same && kept_is_list));
	if (kept != nullptr)
		kept_is_list = ok;
	if (!ok) {
		std::free(buffer);
		*list = ListText{};
		return false;
	}
	if (kept != nullptr) {
		std::free(buffer);
	} else {
		buffer[received] = '\0';
		list->owned = buffer;
	}
	if (control_word_has(CW_DUMP_LIST))
		log_write("\n\n%s\n\n", text);
	return true;
}
