// systemd's notify protocol: one datagram to the Unix socket named by $NOTIFY_SOCKET, a leading
// '@' naming an abstract socket.
#include "platform/notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

void notify_service_manager(const char* text)
{
	const char* name = std::getenv("NOTIFY_SOCKET");
	if (name == nullptr || name[0] == '\0')
		return;
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	size_t length = std::strlen(name);
	if ((name[0] != '/' && name[0] != '@') || length >= sizeof address.sun_path)
		return;
	std::memcpy(address.sun_path, name, length);
	if (name[0] == '@')
		address.sun_path[0] = '\0';
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return;
	socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
	sendto(fd, text, std::strlen(text), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size);
	close(fd);
}

bool notify_watchdog_wanted()
{
	const char* usec = std::getenv("WATCHDOG_USEC");
	if (usec == nullptr || std::atoll(usec) <= 0)
		return false;
	// Meant for this process only, when the manager names one.
	const char* pid = std::getenv("WATCHDOG_PID");
	return pid == nullptr || std::atoll(pid) == getpid();
}
