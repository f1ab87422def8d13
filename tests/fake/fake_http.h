#pragma once
// The scripted HTTP client: handle values, the send result, the body as a series of pieces,
// and a record of every call in order.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/http.h"

// One answer of the data query and of the read that follows it.
struct FakeHttpPiece {
	bool query_ok;
	uint32_t announced;
	bool read_ok;
	uint32_t delivered;
	std::string bytes;	// what the read writes; 'x' beyond its end
};

struct FakeHttpScript {
	HttpHandle session;	// 0 makes that open fail
	HttpHandle connection;
	HttpHandle request;
	bool send_ok;
	int last_error;
	// Answered in order; once used up, every query succeeds with 0 (the end of the body).
	std::vector<FakeHttpPiece> pieces;
};

extern FakeHttpScript fake_http;
// "session", "connect 1 server", "request 2 /path", "send 3", "query 3", "read 3 1f",
// "close 3": counts in hexadecimal.
extern std::vector<std::string> fake_http_calls;

// Handles 1, 2, 3, a send that succeeds, an empty body, no calls recorded.
void fake_http_reset();
// As reset, with body as one whole, successful piece.
void fake_http_serve(const char* body);
// A piece that announces and delivers bytes.
FakeHttpPiece fake_http_piece(const std::string& bytes);
