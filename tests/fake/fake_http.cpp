#include "tests/fake/fake_http.h"

#include <cstdio>
#include <cstring>

FakeHttpScript fake_http = {1, 2, 3, true, 0, {}};
std::vector<std::string> fake_http_calls;

namespace {

size_t next_piece;
const FakeHttpPiece* current_piece;

void record(const char* format, unsigned long a, const char* text = nullptr)
{
	char line[256];
	if (text != nullptr)
		std::snprintf(line, sizeof line, format, a, text);
	else
		std::snprintf(line, sizeof line, format, a);
	fake_http_calls.push_back(line);
}

} // namespace

void fake_http_reset()
{
	fake_http = FakeHttpScript{1, 2, 3, true, 0, {}};
	fake_http_calls.clear();
	next_piece = 0;
	current_piece = nullptr;
}

void fake_http_serve(const char* body)
{
	fake_http_reset();
	if (*body != '\0')
		fake_http.pieces.push_back(fake_http_piece(body));
}

FakeHttpPiece fake_http_piece(const std::string& bytes)
{
	auto n = static_cast<uint32_t>(bytes.size());
	return FakeHttpPiece{true, n, true, n, bytes};
}

HttpHandle http_open_session()
{
	fake_http_calls.push_back("session");
	return fake_http.session;
}

HttpHandle http_connect(HttpHandle session, const char* server)
{
	record("connect %lx %s", session, server);
	return session != 0 ? fake_http.connection : 0;
}

HttpHandle http_open_request(HttpHandle connection, const char* path)
{
	record("request %lx %s", connection, path);
	return connection != 0 ? fake_http.request : 0;
}

bool http_send_request(HttpHandle request)
{
	record("send %lx", request);
	return request != 0 && fake_http.send_ok;
}

bool http_query_data_available(HttpHandle request, uint32_t* announced)
{
	record("query %lx", request);
	if (next_piece >= fake_http.pieces.size()) {
		current_piece = nullptr;
		*announced = 0;
		return true;
	}
	current_piece = &fake_http.pieces[next_piece++];
	if (!current_piece->query_ok)
		return false;
	*announced = current_piece->announced;
	return true;
}

bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered)
{
	char line[64];
	std::snprintf(line, sizeof line, "read %lx %x", static_cast<unsigned long>(request), count);
	fake_http_calls.push_back(line);
	if (current_piece == nullptr || !current_piece->read_ok)
		return false;
	// Never write past what was asked for, even when the script delivers more.
	uint32_t n = current_piece->delivered < count ? current_piece->delivered : count;
	size_t given = current_piece->bytes.size() < n ? current_piece->bytes.size() : n;
	std::memcpy(buffer, current_piece->bytes.data(), given);
	std::memset(static_cast<char*>(buffer) + given, 'x', n - given);
	*delivered = current_piece->delivered;
	return true;
}

void http_close_handle(HttpHandle handle)
{
	record("close %lx", handle);
}

int http_last_error()
{
	return fake_http.last_error;
}

uint32_t fake_http_status = 200;

uint32_t http_status(HttpHandle)
{
	return fake_http_status;
}
