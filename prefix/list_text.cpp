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

// At most STATIC_LIST_MAX bytes of the static file as a text; empty when it does not open as a
// regular file, null when memory ran out.
char* read_static_file()
{
	char* buffer = static_cast<char*>(std::malloc(STATIC_LIST_MAX + 1));
	std::FILE* file = buffer ? open_regular_file("lanxroute.static") : nullptr;
	size_t got = file ? std::fread(buffer, 1, STATIC_LIST_MAX, file) : 0;
	if (file)
		std::fclose(file);
	if (buffer)
		buffer[got] = '\0';
	return buffer;
}

// The texts the partition was last built from, and the change count right after that build.
struct LastBuild {
	char* list_text;
	char* static_text;
	uint32_t changes;
};
LastBuild last_build;

// The same texts over an untouched partition need no new build.
bool same_as_last_build(const char* text, const char* static_text)
{
	return last_build.list_text != nullptr && last_build.changes == prefix_list_changes &&
	       std::strcmp(text, last_build.list_text) == 0 && std::strcmp(static_text, last_build.static_text) == 0;
}

void forget_last_build()
{
	std::free(last_build.list_text);
	std::free(last_build.static_text);
	last_build = LastBuild{};
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
			if (values[4] >= 0 && values[4] <= 32 && !add_prefix(form_address(values), values[4]))
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
	char* static_text = read_static_file();
	bool ok = static_text != nullptr;
	if (ok && !same_as_last_build(text, static_text)) {
		forget_last_build();
		reset_prefix_list();
		ok = append_node(0, 0, 0) != nullptr && parse_list_text(text) && parse_list_text(static_text) &&
		     add_prefix(0xFFFFFFFFu, 32);
		if (ok) {
			// The build keeps both texts.
			last_build = LastBuild{text, static_text, prefix_list_changes};
			text = static_text = nullptr;
		} else {
			reset_prefix_list();
		}
	}
	std::free(text);
	std::free(static_text);
	return ok;
}
