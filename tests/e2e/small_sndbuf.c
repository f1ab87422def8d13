// Preloaded into the update driver: its netlink sockets start with the kernel's smallest send
// buffer, as under a small net.core.wmem_default, which a network namespace cannot set.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/socket.h>

int socket(int domain, int type, int protocol)
{
	int (*real)(int, int, int) = (int (*)(int, int, int))dlsym(RTLD_NEXT, "socket");
	int fd = real(domain, type, protocol);
	int least = 1;
	if (fd >= 0 && domain == AF_NETLINK)
		setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &least, sizeof least);
	return fd;
}
