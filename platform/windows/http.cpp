// The list request over WinINet, with the arguments the download has always used, bounded to 120 s
// as a whole (connection, headers and body); over TLS when the server is named with "https://".
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>

namespace {

// WinINet bounds each call, not the download: a server that drips its body would hold the cycle.
constexpr ULONGLONG DOWNLOAD_MOST_MS = 120000;

// The one download at a time, from its session's open.
struct Download {
	ULONGLONG deadline; // GetTickCount64() at which the download has had its 120 s
	bool answered;      // the request went out and its status line came back
	bool secure;        // the connection is to port 443, its request over TLS
	DWORD refused;      // the error of an answer refused at the send, which the first query reports
};
Download download;

// The time-outs of the calls that wait on the server: connecting, sending, receiving.
constexpr DWORD BOUNDED_OPTIONS[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
				     INTERNET_OPTION_RECEIVE_TIMEOUT};

HINTERNET handle_of(HttpHandle h)
{
	return reinterpret_cast<HINTERNET>(h);
}

HttpHandle number_of(HINTERNET h)
{
	return reinterpret_cast<HttpHandle>(h);
}

// What is left of the download's 120 s, in ms; 0 once they have passed.
DWORD time_left()
{
	ULONGLONG now = GetTickCount64();
	return now >= download.deadline ? 0 : static_cast<DWORD>(download.deadline - now);
}

// Lowers the request's own time-outs to what is left, so that one blocking call cannot outlast the
// bound; false, with ERROR_INTERNET_TIMEOUT, once it has passed.
bool bound_next_call(HINTERNET request)
{
	DWORD left = time_left();
	if (left == 0) {
		SetLastError(ERROR_INTERNET_TIMEOUT);
		return false;
	}
	// A null handle would set WinINet's defaults for the whole process; the call fails on its own.
	if (request == nullptr)
		return true;
	for (DWORD option : BOUNDED_OPTIONS) {
		DWORD current = 0, size = sizeof current;
		// A shorter time-out of WinINet's own stays; 0 is none at all.
		if (InternetQueryOptionA(request, option, &current, &size) && current != 0 && current <= left)
			continue;
		InternetSetOptionA(request, option, &left, sizeof left);
	}
	return true;
}

// A server reached whose certificate or redirect is refused sent an answer that failed: as on Linux the
// send succeeds and the first query fails with its error, so that the download keeps the list.
bool answer_refused(DWORD error)
{
	switch (error) {
	case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
	case ERROR_INTERNET_SEC_CERT_CN_INVALID:
	case ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR:
	case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
	case ERROR_INTERNET_MIXED_SECURITY:
	case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
	case ERROR_INTERNET_INVALID_CA:
	case ERROR_INTERNET_SEC_CERT_ERRORS:
	case ERROR_INTERNET_SEC_CERT_NO_REV:
	case ERROR_INTERNET_SEC_CERT_REV_FAILED:
	case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
	case ERROR_INTERNET_SEC_INVALID_CERT:
	case ERROR_INTERNET_SEC_CERT_REVOKED:
		return true;
	default:
		return false;
	}
}

} // namespace

HttpHandle http_open_session()
{
	download = Download{
		.deadline = GetTickCount64() + DOWNLOAD_MOST_MS, .answered = false, .secure = false, .refused = 0};
	return number_of(InternetOpenA("LANXRoute", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

HttpHandle http_connect(HttpHandle session, const char* server)
{
	download.secure = std::strncmp(server, "https://", 8) == 0;
	const char* host = download.secure ? server + 8 : server;
	const INTERNET_PORT port = download.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
	return number_of(
		InternetConnectA(handle_of(session), host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
}

HttpHandle http_open_request(HttpHandle connection, const char* path)
{
	// A redirect may go from http to https; one from https to http fails, as WinINet does by default.
	DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
	if (download.secure)
		flags |= INTERNET_FLAG_SECURE;
	return number_of(HttpOpenRequestA(handle_of(connection), "GET", path, "HTTP/1.0", nullptr, nullptr, flags, 0));
}

bool http_send_request(HttpHandle request)
{
	HINTERNET r = handle_of(request);
	download.answered = bound_next_call(r) && HttpSendRequestA(r, nullptr, 0, nullptr, 0) != FALSE;
	if (!download.answered && answer_refused(GetLastError()))
		download.refused = GetLastError();
	return download.answered || download.refused != 0;
}

bool http_query_data_available(HttpHandle request, uint32_t* announced)
{
	HINTERNET r = handle_of(request);
	DWORD n = 0;
	if (download.refused != 0) {
		SetLastError(download.refused);
		return false;
	}
	if (bound_next_call(r) && InternetQueryDataAvailable(r, &n, 0, 0)) {
		*announced = n;
		return true;
	}
	if (!download.answered || time_left() != 0)
		return false;
	// Past the bound once the answer began, a byte is announced so that the read fails: the download is
	// then a failed read, where a failed query would end the body short.
	*announced = 1;
	return true;
}

bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered)
{
	HINTERNET r = handle_of(request);
	DWORD n = 0;
	if (!bound_next_call(r) || !InternetReadFile(r, buffer, count, &n))
		return false;
	*delivered = n;
	return true;
}

// WinINet is asked never to answer from its cache, and no answer is kept here.
const char* http_kept_answer(HttpHandle, uint32_t*, bool*)
{
	return nullptr;
}

uint32_t http_status(HttpHandle request)
{
	DWORD code = 0, size = sizeof code;
	if (!HttpQueryInfoA(handle_of(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
		return 0;
	return code;
}

void http_close_handle(HttpHandle handle)
{
	InternetCloseHandle(handle_of(handle));
}

int http_last_error()
{
	return static_cast<int>(GetLastError());
}

// Every request is unconditional here: the status is the server's own, and nothing is kept.
uint32_t http_wire_status(HttpHandle request)
{
	return http_status(request);
}

void http_kept_validators(char* text, uint32_t size)
{
	std::snprintf(text, size, "none");
}
