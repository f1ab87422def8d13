#include "tests/fake/fake_http.h"

#include <cstdio>

uint32_t fake_http_status = 200;
std::vector<FakeHttpPiece> fake_http_pieces;
std::string fake_http_calls;
const char* fake_http_kept;
bool fake_http_same;
static size_t next_piece;

static void note(const char* call, HttpHandle handle, const std::string& what = "")
{
	fake_http_calls +=
		(fake_http_calls.empty() ? "" : " ") + std::string(call) + "(" + std::to_string(handle) + what + ")";
}

void fake_http_serve(const char* body)
{
	fake_http_status = 200;
	fake_http_pieces.assign(*body != '\0', {static_cast<uint32_t>(std::string(body).size()), body});
	fake_http_calls.clear();
	fake_http_kept = nullptr;
	next_piece = 0;
}

HttpHandle http_open_session()
{
	return 1;
}

HttpHandle http_connect(HttpHandle session, const char* server)
{
	note("connect", session, std::string(",") + server);
	return 2;
}

HttpHandle http_open_request(HttpHandle connection, const char* path)
{
	note("request", connection, std::string(",") + path);
	return 3;
}

bool http_send_request(HttpHandle request)
{
	note("send", request);
	return fake_http_status != 0;
}

bool http_query_data_available(HttpHandle, uint32_t* announced)
{
	if (next_piece == fake_http_pieces.size()) {
		*announced = 0;
		return true;
	}
	const uint32_t size = fake_http_pieces[next_piece++].first;
	if (size != 0)
		*announced = size;
	return size != 0;
}

bool http_read(HttpHandle, void* buffer, uint32_t count, uint32_t* delivered)
{
	*delivered =
		static_cast<uint32_t>(fake_http_pieces[next_piece - 1].second.copy(static_cast<char*>(buffer), count));
	return true;
}

const char* http_kept_answer(HttpHandle, uint32_t* size, bool* same)
{
	*size = fake_http_kept ? static_cast<uint32_t>(std::string(fake_http_kept).size()) : 0;
	*same = fake_http_same;
	return fake_http_kept;
}

uint32_t http_status(HttpHandle)
{
	return fake_http_status;
}

uint32_t http_wire_status(HttpHandle)
{
	return fake_http_status;
}

void http_kept_validators(char* text, uint32_t size)
{
	std::snprintf(text, size, "none");
}

void http_close_handle(HttpHandle handle)
{
	note("close", handle);
}

int http_last_error()
{
	return fake_http_status != 0 ? 0 : 12029;
}
