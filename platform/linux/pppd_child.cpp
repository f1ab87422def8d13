// pppd as this process's own child. Owning the child avoids pid files and pid reuse.
#include "platform/linux/pppd_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>

extern char** environ;

static constexpr const char* PPPD = "/usr/sbin/pppd";

// Sets *status to the child's end as a dial error: its exit status, or 128 + the signal.
void pppd_reap(PppLink* link, int* status)
{
	int ws = 0;
	while (waitpid(link->pid, &ws, 0) < 0 && errno == EINTR) {
	}
	link->reaped = true;
	if (status != nullptr) {
		if (WIFEXITED(ws))
			*status = WEXITSTATUS(ws);
		else if (WIFSIGNALED(ws))
			*status = 128 + WTERMSIG(ws);
		else
			*status = 1;
		// An end without a report is a failure even when pppd calls it success.
		if (*status == 0)
			*status = 1;
	}
}

bool pppd_ended(const PppLink* link)
{
	struct pollfd p = {link->pidfd, POLLIN, 0};
	return poll(&p, 1, 0) > 0;
}

// A datagram that says the link is up, from a process of our own user.
bool pppd_ready(int sock)
{
	char data[512];
	char control[CMSG_SPACE(sizeof(struct ucred))];
	struct iovec iov = {data, sizeof data - 1};
	struct msghdr msg;
	std::memset(&msg, 0, sizeof msg);
	msg.msg_iov = &iov;
	msg.msg_iovlen = 1;
	msg.msg_control = control;
	msg.msg_controllen = sizeof control;
	ssize_t n = recvmsg(sock, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
	if (n < 0)
		return false;
	data[n] = '\0';
	bool trusted = false;
	for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
		if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
			struct ucred cred;
			std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
			trusted = cred.uid == geteuid() || cred.uid == 0;
		}
	}
	if (!trusted)
		return false;
	// Newline-separated assignments; one of them must be READY=1.
	for (char* line = data; line != nullptr;) {
		char* end = std::strchr(line, '\n');
		if (end != nullptr)
			*end = '\0';
		if (std::strcmp(line, "READY=1") == 0)
			return true;
		line = end != nullptr ? end + 1 : nullptr;
	}
	return false;
}

// The abstract socket pppd reports to; its name in NOTIFY_SOCKET's notation in *name_text.
// The kernel picks the name (autobind): a name of our own choosing could be bound first by
// any local user, and no dial would ever succeed.
int pppd_notify_socket(char* name_text, size_t size)
{
	int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (sock < 0)
		return -1;
	int on = 1;
	setsockopt(sock, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
	struct sockaddr_un addr;
	std::memset(&addr, 0, sizeof addr);
	addr.sun_family = AF_UNIX;
	socklen_t addr_len = sizeof addr;
	if (bind(sock, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr.sun_family) != 0 ||
	    getsockname(sock, reinterpret_cast<struct sockaddr*>(&addr), &addr_len) != 0 ||
	    addr_len <= offsetof(sockaddr_un, sun_path) + 1) {
		int e = errno;
		close(sock);
		errno = e;
		return -1;
	}
	int len = static_cast<int>(addr_len - offsetof(sockaddr_un, sun_path) - 1);
	std::snprintf(name_text, size, "NOTIFY_SOCKET=@%.*s", len, addr.sun_path + 1);
	return sock;
}

// The parent's environment with our NOTIFY_SOCKET in place of any inherited one.
static char** child_environment(char* notify)
{
	size_t n = 0;
	while (environ[n] != nullptr)
		n++;
	char** env = new (std::nothrow) char*[n + 2];
	if (env == nullptr)
		return nullptr;
	size_t k = 0;
	for (size_t i = 0; i < n; i++)
		if (std::strncmp(environ[i], "NOTIFY_SOCKET=", 14) != 0)
			env[k++] = environ[i];
	env[k++] = notify;
	env[k] = nullptr;
	return env;
}

uint32_t pppd_spawn(PppLink* link, const char* name, char* notify)
{
	char** env = child_environment(notify);
	if (env == nullptr)
		return ENOMEM;
	char arg0[] = "pppd", call[] = "call", sdnotify[] = "up_sdnotify", nopersist[] = "nopersist";
	char* argv[] = {arg0, call, const_cast<char*>(name), sdnotify, nopersist, nullptr};
	// Forked rather than spawned, so that pppd can ask to die with us: a copy killed outright
	// must not leave pppd holding the modem.
	pid_t parent = getpid();
	link->pid = fork();
	if (link->pid == 0) {
		if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
			_exit(127);
		execve(PPPD, argv, env);
		_exit(127);
	}
	int r = link->pid < 0 ? errno : 0;
	delete[] env;
	if (r != 0)
		return static_cast<uint32_t>(r);
	link->pidfd = static_cast<int>(syscall(SYS_pidfd_open, link->pid, 0));
	if (link->pidfd < 0) {
		// Without a pidfd the link could not be watched: end it at once.
		r = errno;
		kill(link->pid, SIGKILL);
		pppd_reap(link, nullptr);
		return static_cast<uint32_t>(r);
	}
	fcntl(link->pidfd, F_SETFD, FD_CLOEXEC);
	return 0;
}
