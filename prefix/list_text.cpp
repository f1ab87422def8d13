#include "prefix/list_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "prefix/list_download.h"
#include "prefix/prefix_list.h"

namespace {

constexpr size_t STATIC_LIST_MAX = 4096;
constexpr int32_t DEFAULT_LENGTH = 24;

bool is_space(unsigned char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(unsigned char c)
{
	return c >= '0' && c <= '9';
}

// One "%d": skips white space, reads an optional sign and the digits. The number is taken
// as a 64-bit long that saturates on overflow, then cut to 32 bits, as glibc does.
// Null when no digit was found.
const char* scan_number(const char* p, int32_t* value)
{
	// The usual octet or length: up to nine digits at once, which no 32-bit value overflows.
	unsigned digit = static_cast<unsigned char>(*p) - '0';
	if (digit < 10) {
		uint32_t quick = digit;
		const char* q = p + 1;
		while ((digit = static_cast<unsigned char>(*q) - '0') < 10 && q - p < 9) {
			quick = quick * 10 + digit;
			q++;
		}
		if (digit >= 10) {
			*value = static_cast<int32_t>(quick);
			return q;
		}
	}
	while (is_space(static_cast<unsigned char>(*p)))
		p++;
	bool negative = false;
	if (*p == '-' || *p == '+') {
		negative = *p == '-';
		p++;
	}
	if (!is_digit(static_cast<unsigned char>(*p)))
		return nullptr;
	// Past this the value is saturated either way.
	constexpr uint64_t limit = uint64_t{1} << 63;
	uint64_t magnitude = 0;
	bool overflow = false;
	for (; is_digit(static_cast<unsigned char>(*p)); p++) {
		unsigned digit = static_cast<unsigned char>(*p) - '0';
		if (magnitude > (limit - digit) / 10)
			overflow = true;
		else
			magnitude = magnitude * 10 + digit;
	}
	if (!negative && magnitude == limit)
		overflow = true;
	uint64_t bits;
	if (overflow)
		bits = negative ? limit : limit - 1;
	else
		bits = negative ? 0 - magnitude : magnitude;
	*value = static_cast<int32_t>(static_cast<uint32_t>(bits));
	return p;
}

// Four octets in 32-bit arithmetic: bits shifted out are dropped, and each octet brings all
// of its 32 bits, so a large or negative octet spills into the ones to its left.
uint32_t form_address(const int32_t octet[4])
{
	uint32_t address = 0;
	for (int i = 0; i < 4; i++)
		address = (address << 8) | static_cast<uint32_t>(octet[i]);
	return address;
}

// Reads at most STATIC_LIST_MAX bytes of the static file and parses them. Nothing to do when
// it does not open as a regular file; false when memory ran out.
bool parse_static_file()
{
	std::FILE* file = open_regular_file("lanxroute.static");
	if (file == nullptr)
		return true;
	char* buffer = static_cast<char*>(std::malloc(STATIC_LIST_MAX + 1));
	if (buffer == nullptr) {
		std::fclose(file);
		return false;
	}
	size_t got = std::fread(buffer, 1, STATIC_LIST_MAX, file);
	std::fclose(file);
	buffer[got] = '\0';
	bool ok = parse_list_text(buffer);
	std::free(buffer);
	return ok;
}

} // namespace

void scan_prefix(const char* text, int32_t values[5])
{
	static const char separator[4] = {'.', '.', '.', '/'};
	const char* p = text;
	for (int i = 0; i < 5; i++) {
		p = scan_number(p, &values[i]);
		if (p == nullptr || (i < 4 && *p++ != separator[i]))
			return;
	}
}

bool parse_list_text(const char* text)
{
	// Octets carry over from line to line; a line that stops early reuses the ones before it.
	int32_t values[5] = {0, 0, 0, 0, 0};
	const char* line = text;
	while (*line != '\0') {
		if (is_digit(static_cast<unsigned char>(*line))) {
			values[4] = DEFAULT_LENGTH;
			scan_prefix(line, values);
			if (values[4] >= 0 && values[4] <= 32 &&
			    !add_prefix(form_address(values), values[4]))
				return false;
		}
		// The text ends at its first NUL; a line feed beyond it does not count.
		const char* feed = std::strchr(line, '\n');
		if (feed == nullptr)
			break;
		line = feed + 1;
	}
	return true;
}

bool load_prefix_list()
{
	char* text = fetch_list_text();
	if (text == nullptr)
		return false;
	reset_prefix_list();
	bool ok = append_node(0, 0, 0) != nullptr && parse_list_text(text) && parse_static_file();
	std::free(text);
	if (ok)
		ok = add_prefix(0xFFFFFFFFu, 32);
	if (!ok)
		reset_prefix_list();
	return ok;
}
