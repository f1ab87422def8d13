#pragma once
// The scripted HTTP client (handles 1, 2, 3): the final status, the body as pieces, a record of
// the calls; and what the static list file holds.
#include <string>
#include <vector>

#include "platform/http.h"

// What one data query announces and the bytes the read that follows delivers (at most what it
// asks for). A piece that announces 0 is a query that fails and writes nothing.
using FakeHttpPiece = std::pair<uint32_t, std::string>;

// 0 plays an unreachable server: the send fails, with error 12029, and no status arrives.
extern uint32_t fake_http_status;
// Answered in order; once used up, every query succeeds with 0 (the end of the body).
extern std::vector<FakeHttpPiece> fake_http_pieces;
// "connect(1,server) request(2,path) send(3) query(3) read(3,count) close(3) ...".
extern std::string fake_http_calls;
// The bytes of "lanxroute.static" (fake_files.cpp); empty: there is no such file.
extern std::string fake_static_file;

// Status 200, an empty body, no calls recorded.
void fake_http_reset();
// As reset, with body as one whole piece.
void fake_http_serve(const char* body);
