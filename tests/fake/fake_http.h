#pragma once
// The scripted HTTP client (handles 1, 2, 3): the final status, the body as pieces, a record of
// the objects opened, sent and closed.
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
// "connect(1,server) request(2,path) send(3) close(3) close(2) close(1)".
extern std::string fake_http_calls;

// The answer the platform keeps (null: none), and whether the server confirmed it (a 304).
extern const char* fake_http_kept;
extern bool fake_http_same;

// Status 200, body as one whole piece (none when empty), nothing kept, no calls recorded.
void fake_http_serve(const char* body);
