#include "prefix/list_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "platform/files.h"
#include "prefix/list_download.h"
#include "prefix/prefix_list.h"

namespace {

constexpr size_t STATIC_LIST_MAX = 4096;
constexpr int32_t DEFAULT_LENGTH = 24;

bool is_digit(unsigned char c)
{
	return c >= '0' && c <= '9';
}

// One number: blanks, an optional sign, decimal digits. A value past the largest octet or
// length reads as 256 whatever its size, and is refused like any other out of range. Null when
// no digit was found; the scan never reaches past the line.
const char* scan_number(const char* p, int32_t* value)
{
	while (*p == ' ' || *p == '\t')
		p++;
	bool negative = *p == '-';
	if (*p == '-' || *p == '+')
		p++;
	if (!is_digit(static_cast<unsigned char>(*p)))
		return nullptr;
	int32_t n = 0;
	for (; is_digit(static_cast<unsigned char>(*p)); p++)
		n = n > 255 ? 256 : n * 10 + (*p - '0');
	*value = negative ? -n : n;
	return p;
}

// At most STATIC_LIST_MAX bytes of the static file as a text; empty when it does not open as a
// regular file, null when memory ran out. *cut tells whether the file goes on past them in the
// middle of a line.
char* read_static_file(bool* cut)
{
	char* buffer = static_cast<char*>(std::malloc(STATIC_LIST_MAX + 1));
	std::FILE* file = buffer ? open_regular_file("lanxroute.static") : nullptr;
	size_t got = file ? std::fread(buffer, 1, STATIC_LIST_MAX + 1, file) : 0;
	if (file)
		std::fclose(file);
	*cut = got > STATIC_LIST_MAX && buffer[STATIC_LIST_MAX] != '\n';
	if (buffer)
		buffer[got > STATIC_LIST_MAX ? STATIC_LIST_MAX : got] = '\0';
	return buffer;
}

// The texts the partition was last built from, and the change count right after that build. A
// list the platform keeps is not copied: its next confirmation says it is the same.
struct LastBuild {
	char* list_text;
	char* static_text;
	uint32_t changes;
	bool from_kept;
};
LastBuild last_build;

// The same texts over an untouched partition need no new build.
bool same_as_last_build(const ListText& list, const char* static_text)
{
	if (last_build.static_text == nullptr || last_build.changes != prefix_list_changes ||
	    std::strcmp(static_text, last_build.static_text) != 0)
		return false;
	if (list.kept != nullptr)
		return list.same && last_build.from_kept;
	return last_build.list_text != nullptr && std::strcmp(list.owned, last_build.list_text) == 0;
}

void forget_last_build()
{
	std::free(last_build.list_text);
	std::free(last_build.static_text);
	last_build = LastBuild{};
}

} // namespace

bool scan_line(const char* line, uint32_t* base, int32_t* length)
{
	uint32_t address = 0;
	const char* p = line;
	for (int i = 0; i < 4; i++) {
		int32_t octet;
		if (i > 0 && *p++ != '.')
			return false;
		p = scan_number(p, &octet);
		if (p == nullptr || octet < 0 || octet > 255)
			return false;
		address = address << 8 | static_cast<uint32_t>(octet);
	}
	*length = DEFAULT_LENGTH;
	if (*p == '/') {
		p = scan_number(p + 1, length);
		if (p == nullptr || *length < 0 || *length > 32)
			return false;
	}
	*base = address & block_mask(*length);
	return true;
}

bool parse_list_text(const char* text, const char* source, bool last_line_cut)
{
	uint32_t skipped = 0;
	const char* line = text;
	while (*line != '\0') {
		// The text ends at its first NUL; a line feed beyond it does not count.
		const char* feed = std::strchr(line, '\n');
		if (is_digit(static_cast<unsigned char>(*line))) {
			uint32_t base;
			int32_t length;
			if ((feed == nullptr && last_line_cut) || !scan_line(line, &base, &length))
				skipped++;
			else if (!add_prefix(base, length))
				return false;
		}
		if (feed == nullptr)
			break;
		line = feed + 1;
	}
	if (skipped == 1)
		log_write("Skipped 1 line of %s that is not an IPv4 prefix\n", source);
	else if (skipped > 1)
		log_write("Skipped %u lines of %s that are not IPv4 prefixes\n", skipped, source);
	return true;
}

bool load_prefix_list()
{
	ListText list;
	if (!fetch_list_text(&list))
		return false;
	bool cut = false;
	char* static_text = read_static_file(&cut);
	bool ok = static_text != nullptr;
	if (ok && !same_as_last_build(list, static_text)) {
		forget_last_build();
		reset_prefix_list();
		const char* text = list.kept ? list.kept : list.owned;
		ok = append_node(0, 0, 0) != nullptr && parse_list_text(text, "the list", false) &&
		     parse_list_text(static_text, "lanxroute.static", cut) && add_prefix(0xFFFFFFFFu, 32);
		if (ok) {
			// The build keeps both texts, or the static one where the platform keeps the list.
			last_build = LastBuild{list.owned, static_text, prefix_list_changes, list.kept != nullptr};
			list.owned = static_text = nullptr;
		} else {
			reset_prefix_list();
		}
	}
	std::free(list.owned);
	std::free(static_text);
	return ok;
}
