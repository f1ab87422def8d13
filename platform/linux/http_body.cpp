// The list body: decoded as it arrives, so that a compressed answer meets the same bound as a
// plain one before it takes the memory.
#include "platform/linux/http_body.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/http.h"

// Each inflate call fills at most this much, so the bound is checked every 64 KiB.
static constexpr size_t DECODE_STEP = 0x10000;

CURLcode body_set_coding(ListBody* b, const char* encoding, size_t lines)
{
	b->coded = true;
	if (encoding == nullptr || (lines == 1 && strcasecmp(encoding, "identity") == 0))
		return CURLE_OK;
	// "gzip, gzip" or a second header line is a coding twice over, which was not asked for.
	if (lines != 1 || strcasecmp(encoding, "gzip") != 0)
		return CURLE_BAD_CONTENT_ENCODING;
	b->inflater = z_stream{};
	if (inflateInit2(&b->inflater, 16 + MAX_WBITS) != Z_OK)
		return CURLE_OUT_OF_MEMORY;
	b->gzip = true;
	return CURLE_OK;
}

// Room enough for a body past the bound by one step: the block never grows beyond it, so that no
// copy of a body near the bound is made.
static constexpr size_t MOST_CAPACITY = HTTP_MOST_BODY_BYTES + DECODE_STEP;

// Makes room for at least room (at most DECODE_STEP) more bytes; false when memory ran out.
static bool make_room(ListBody* b, size_t room)
{
	if (b->capacity - b->end >= room)
		return true;
	size_t bigger = b->capacity ? b->capacity : 0x4000;
	while (bigger - b->end < room) {
		if (bigger == MOST_CAPACITY)
			return false;
		bigger = bigger * 2 < MOST_CAPACITY ? bigger * 2 : MOST_CAPACITY;
	}
	char* grown = static_cast<char*>(std::realloc(b->bytes, bigger));
	if (grown == nullptr)
		return false;
	b->bytes = grown;
	b->capacity = bigger;
	return true;
}

static CURLcode add_plain(ListBody* b, const char* bytes, size_t n)
{
	if (!make_room(b, n))
		return CURLE_OUT_OF_MEMORY;
	std::memcpy(b->bytes + b->end, bytes, n);
	b->end += n;
	return b->end > HTTP_MOST_BODY_BYTES ? CURLE_WRITE_ERROR : CURLE_OK;
}

static CURLcode add_gzip(ListBody* b, const char* bytes, size_t n)
{
	// Bytes after the stream's end are not part of the list.
	if (b->ended)
		return n == 0 ? CURLE_OK : CURLE_BAD_CONTENT_ENCODING;
	b->inflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
	b->inflater.avail_in = static_cast<uInt>(n);
	while (b->inflater.avail_in > 0) {
		if (!make_room(b, DECODE_STEP))
			return CURLE_OUT_OF_MEMORY;
		b->inflater.next_out = reinterpret_cast<Bytef*>(b->bytes + b->end);
		b->inflater.avail_out = DECODE_STEP;
		int rc = inflate(&b->inflater, Z_NO_FLUSH);
		b->end += DECODE_STEP - b->inflater.avail_out;
		if (rc == Z_MEM_ERROR)
			return CURLE_OUT_OF_MEMORY;
		if (rc != Z_OK && rc != Z_STREAM_END)
			return CURLE_BAD_CONTENT_ENCODING;
		if (b->end > HTTP_MOST_BODY_BYTES)
			return CURLE_WRITE_ERROR;
		if (rc == Z_STREAM_END) {
			b->ended = true;
			return b->inflater.avail_in == 0 ? CURLE_OK : CURLE_BAD_CONTENT_ENCODING;
		}
	}
	return CURLE_OK;
}

CURLcode body_add(ListBody* b, const char* bytes, size_t n)
{
	return b->gzip ? add_gzip(b, bytes, n) : add_plain(b, bytes, n);
}

bool body_whole(const ListBody* b)
{
	return !b->gzip || b->ended;
}

void body_end_coding(ListBody* b)
{
	if (b->gzip)
		inflateEnd(&b->inflater);
}
