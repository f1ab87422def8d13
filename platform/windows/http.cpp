// The list request over WinINet, with the arguments the download has always used.
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

namespace {

HINTERNET handle_of(HttpHandle h)
{
	return reinterpret_cast<HINTERNET>(h);
}

HttpHandle number_of(HINTERNET h)
{
	return reinterpret_cast<HttpHandle>(h);
}

} // namespace

HttpHandle http_open_session()
{
	return number_of(InternetOpenA("LANXRoute", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

HttpHandle http_connect(HttpHandle session, const char* server)
{
	return number_of(InternetConnectA(handle_of(session), server, INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
					  INTERNET_SERVICE_HTTP, 0, 0));
}

HttpHandle http_open_request(HttpHandle connection, const char* path)
{
	return number_of(HttpOpenRequestA(handle_of(connection), "GET", path, "HTTP/1.0", nullptr, nullptr,
					  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
}

bool http_send_request(HttpHandle request)
{
	return HttpSendRequestA(handle_of(request), nullptr, 0, nullptr, 0) != FALSE;
}

bool http_query_data_available(HttpHandle request, uint32_t* announced)
{
	DWORD n = 0;
	if (!InternetQueryDataAvailable(handle_of(request), &n, 0, 0))
		return false;
	*announced = n;
	return true;
}

bool http_read(HttpHandle request, void* buffer, uint32_t count, uint32_t* delivered)
{
	DWORD n = 0;
	if (!InternetReadFile(handle_of(request), buffer, count, &n))
		return false;
	*delivered = n;
	return true;
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
