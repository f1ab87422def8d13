#pragma once
// One HTTP/1.0 GET, pulled piece by piece: the three objects a download opens, then send,
// "how much can be read now", read exactly that much, close.
#include <cstdint>

// A number that identifies one open object; 0 for one that failed to open.
using HttpHandle = uintptr_t;

// The most body bytes a download takes: a transfer stops once it has more, so that the reads
// show a body past it.
constexpr uint32_t HTTP_MOST_BODY_BYTES = 256u << 20;

// The client session (user agent "LANXRoute", the host's proxy settings).
HttpHandle http_open_session();
// A connection to port 80 of server; to port 443 over TLS when server is "https://" and a host,
// the certificate checked against the system's store and the host name.
HttpHandle http_connect(HttpHandle session, const char* server);
// A GET request for path exactly as given, HTTP/1.0, never answered from a cache.
HttpHandle http_open_request(HttpHandle connection, const char* path);

// false only when no answer came: the server could not be reached or sent no status line. A
// certificate that does not verify is an answer that failed: the send succeeds, the query fails.
bool http_send_request(HttpHandle request);
// The size of the next piece of the body that can be read at once; 0 only at its end. Fails when
// the transfer failed, a body that breaks off or is not whole included.
bool http_query_data_available(HttpHandle request, uint32_t* announced);
bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered);
// Once the answer has arrived whole: the platform's own copy of its body when it keeps one for
// the next request, NUL-terminated at *size, read in place, unchanged until the next answer is
// kept; *same when it is the body kept before, which the server confirmed ("not modified"). Null
// when the platform keeps no copy of this answer.
const char* http_kept_answer(HttpHandle request, uint32_t* size, bool* same);
// The final HTTP status of the answer to request; 0 when none arrived.
uint32_t http_status(HttpHandle request);
void http_close_handle(HttpHandle handle);

// The client's last error code.
int http_last_error();

// The status the server itself gave the last answer to request: 304 for a list not modified,
// which http_status reports as the 200 it stands for.
uint32_t http_wire_status(HttpHandle request);
// The validators kept for the next request ("ETag ..., Last-Modified ..."), "none" when none;
// cut to size.
void http_kept_validators(char* text, uint32_t size);
