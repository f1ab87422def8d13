// Any bytes as a script for the HTTP client: handles that fail to open, a send that fails,
// then pieces with their announced sizes, short, long and failed reads and failing queries.
// The download must give what a plain model of it gives, log what it promises, close every
// handle and leak nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/settings.h"
#include "common/control_word.h"
#include "common/log.h"
#include "prefix/list_download.h"
#include "tests/fake/fake_http.h"

namespace {

uint32_t word;
// Enough pieces to grow the buffer several times, few enough to stay quick.
constexpr size_t MAX_PIECES = 64;
constexpr uint64_t MAX_BODY = 4u << 20;

[[noreturn]] void fail(const char* what)
{
	std::fprintf(stderr, "download_fuzz: %s\n", what);
	std::abort();
}

struct Reader {
	const uint8_t* p;
	const uint8_t* end;
};

unsigned take(Reader* r)
{
	return r->p < r->end ? *r->p++ : 0;
}

unsigned take16(Reader* r)
{
	unsigned high = take(r);
	return high << 8 | take(r);
}

// One piece from the script: kind byte, size, then maybe its bytes from the input.
FakeHttpPiece next_piece(Reader* r)
{
	unsigned kind = take(r);
	uint32_t announced;
	switch (kind >> 2 & 3) {
	case 0: announced = take(r); break;
	case 1: announced = take16(r); break;
	case 2: announced = take16(r) << 4; break;
	// Past what 32-bit counters can hold with the byte for the end mark.
	default: announced = 0x80000000u | take16(r) << 15 | take(r); break;
	}
	FakeHttpPiece piece{true, announced, true, announced, {}};
	switch (kind & 3) {
	case 1: piece.query_ok = false; break;
	case 2: piece.read_ok = false; break;
	case 3:
		switch (kind >> 5 & 3) {
		case 0: piece.delivered = announced - 1; break;
		case 1: piece.delivered = announced + 1; break;
		case 2: piece.delivered = 0; break;
		default: piece.delivered = announced / 2; break;
		}
		break;
	}
	if ((kind & 0x80) == 0) {
		size_t n = static_cast<size_t>(r->end - r->p);
		if (n > announced)
			n = announced;
		piece.bytes.assign(reinterpret_cast<const char*>(r->p), n);
		r->p += n;
	}
	return piece;
}

struct Model {
	bool none;
	std::string text;	// the received bytes
	int len_lines;
};

// The download as a plain walk over the script.
Model model(const FakeHttpScript& s)
{
	Model m{false, {}, 0};
	size_t next = 0;
	uint32_t announced = 0;
	if (next < s.pieces.size()) {
		const FakeHttpPiece& p = s.pieces[next++];
		if (!p.query_ok)
			return m;
		announced = p.announced;
	}
	while (announced != 0) {
		const FakeHttpPiece& p = s.pieces[next - 1];
		m.len_lines++;
		if (uint64_t{m.text.size()} + announced >= 0x80000000u || !p.read_ok ||
		    p.delivered != announced) {
			m.none = true;
			return m;
		}
		std::string got = p.bytes.substr(0, announced);
		got.resize(announced, 'x');
		m.text += got;
		if (next >= s.pieces.size())
			break;
		const FakeHttpPiece& q = s.pieces[next++];
		if (!q.query_ok)
			break;
		announced = q.announced;
	}
	return m;
}

size_t count(const std::string& text, const char* what)
{
	size_t n = 0;
	for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
		n++;
	return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	control_word = &word;
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	Reader r{data, data + size};
	unsigned flags = take(&r);
	fake_http_reset();
	fake_http.session = flags & 1 ? 0 : 1;
	fake_http.connection = flags & 2 ? 0 : 2;
	fake_http.request = flags & 4 ? 0 : 3;
	fake_http.send_ok = (flags & 8) == 0;
	fake_http.last_error = 7;
	word = flags & 0x10 ? CW_DUMP_LIST : 0;
	uint64_t body = 0;
	while (r.p < r.end && fake_http.pieces.size() < MAX_PIECES && body < MAX_BODY) {
		fake_http.pieces.push_back(next_piece(&r));
		if (fake_http.pieces.back().announced < 0x80000000u)
			body += fake_http.pieces.back().announced;
	}
	Model m = model(fake_http);

	char* log_text = nullptr;
	size_t log_size = 0;
	log_stream = open_memstream(&log_text, &log_size);
	char* text = fetch_list_text();
	std::fclose(log_stream);
	log_stream = nullptr;
	std::string log(log_text, log_size);
	std::free(log_text);

	if ((text == nullptr) != m.none)
		fail(m.none ? "a failed or uneven read still gave a text" : "a good body gave no text");
	if (text != nullptr) {
		// Reading the end mark also proves the block holds one byte more than was received.
		if (std::memcmp(text, m.text.data(), m.text.size()) != 0 || text[m.text.size()] != '\0')
			fail("the text is not the bytes received");
		if (word & CW_DUMP_LIST) {
			std::string dump = "\n\n" + std::string(text) + "\n\n";
			if (log.size() < dump.size() || log.compare(log.size() - dump.size(), dump.size(), dump) != 0)
				fail("the dump does not end the log");
			// The lines below are counted in the download's own lines only.
			log.resize(log.size() - dump.size());
		}
		std::free(text);
	}

	if (log.rfind("Loading subnet list from http://list.lanx.example/zo-list.txt\n", 0) != 0)
		fail("the log does not start with the loading line");
	bool send_fails = fake_http.session == 0 || fake_http.connection == 0 ||
			  fake_http.request == 0 || !fake_http.send_ok;
	if ((count(log, "Error sending HTTP request: 7\n") == 1) != send_fails)
		fail("the send error line does not match the send");
	if (count(log, "Error no data: 7\n") != (!m.none && m.text.empty() ? 1u : 0u))
		fail("the no-data line does not match an empty text");
	if (static_cast<int>(count(log, "  len=")) != m.len_lines)
		fail("one len line per piece read");

	// Every road closes the request, the connection and the session, in that order, once.
	HttpHandle hi = fake_http.session;
	HttpHandle hc = hi ? fake_http.connection : 0;
	HttpHandle hr = hc ? fake_http.request : 0;
	size_t n = fake_http_calls.size();
	char want[3][32];
	std::snprintf(want[0], sizeof want[0], "close %lx", static_cast<unsigned long>(hr));
	std::snprintf(want[1], sizeof want[1], "close %lx", static_cast<unsigned long>(hc));
	std::snprintf(want[2], sizeof want[2], "close %lx", static_cast<unsigned long>(hi));
	size_t closes = 0;
	for (const std::string& c : fake_http_calls)
		closes += c.rfind("close ", 0) == 0;
	if (closes != 3 || n < 3 || fake_http_calls[n - 3] != want[0] ||
	    fake_http_calls[n - 2] != want[1] || fake_http_calls[n - 1] != want[2])
		fail("the handles are not closed once each, request first");
	return 0;
}
