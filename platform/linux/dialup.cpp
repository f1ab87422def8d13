// Dial-up through pppd, supervised as this process's own child: "READY=1" on our notify socket
// means the link is up, the child's end means it is down. Owning the child avoids pid files
// and pid reuse.
#include "platform/dialup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/linux/drop_watch.h"
#include "platform/linux/stop_signal.h"

extern char** environ;

static constexpr const char* PEERS_DIR = "/etc/ppp/peers/";
static constexpr const char* PPPD = "/usr/sbin/pppd";
static constexpr int DIAL_TIMEOUT_MS = 90000;
static constexpr int HANG_UP_GRACE_MS = 5000;
static constexpr uint32_t STATE_DISCONNECTED = 0x2001;

struct PppLink {
	pid_t pid;
	int pidfd;
	bool reaped;
};

static int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A name must stay inside the peers folder.
static bool entry_name_allowed(const char* name)
{
	return name[0] != '\0' && name[0] != '.' && std::strchr(name, '/') == nullptr;
}

uint32_t dialup_get_entry_params(DialParams* params)
{
	if (!entry_name_allowed(params->entry_name))
		return EINVAL;
	char path[sizeof params->entry_name + 32];
	std::snprintf(path, sizeof path, "%s%s", PEERS_DIR, params->entry_name);
	int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return static_cast<uint32_t>(errno);
	struct stat st;
	uint32_t r = 0;
	if (fstat(fd, &st) != 0)
		r = static_cast<uint32_t>(errno);
	else if (!S_ISREG(st.st_mode))
		r = EISDIR;
	close(fd);
	return r;
}

// Sets *status to the child's end as a dial error: its exit status, or 128 + the signal.
static void reap(PppLink* link, int* status)
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

static bool child_ended(const PppLink* link)
{
	struct pollfd p = {link->pidfd, POLLIN, 0};
	return poll(&p, 1, 0) > 0;
}

// A datagram that says the link is up, from a process of our own user.
static bool ready_message(int sock)
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
static int notify_socket(char* name_text, size_t size)
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

static uint32_t spawn_pppd(PppLink* link, const char* name, char* notify)
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
		reap(link, nullptr);
		return static_cast<uint32_t>(r);
	}
	fcntl(link->pidfd, F_SETFD, FD_CLOEXEC);
	return 0;
}

uint32_t dialup_dial(DialParams* params, DialConnection* connection)
{
	if (!entry_name_allowed(params->entry_name))
		return EINVAL;
	PppLink* link = new (std::nothrow) PppLink{-1, -1, false};
	if (link == nullptr)
		return ENOMEM;
	char notify[sizeof(sockaddr_un::sun_path) + 32];
	int sock = notify_socket(notify, sizeof notify);
	if (sock < 0) {
		uint32_t e = static_cast<uint32_t>(errno);
		delete link;
		return e;
	}
	uint32_t r = spawn_pppd(link, params->entry_name, notify);
	if (r != 0) {
		close(sock);
		delete link;
		return r;
	}
	*connection = reinterpret_cast<DialConnection>(link);

	// From here on the caller owns the link and hangs it up on any failure.
	int64_t deadline = now_ms() + DIAL_TIMEOUT_MS;
	r = ETIMEDOUT;
	for (;;) {
		int64_t left = deadline - now_ms();
		if (left <= 0)
			break;
		struct pollfd fds[3] = {{sock, POLLIN, 0}, {link->pidfd, POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
		int n = poll(fds, 3, static_cast<int>(left));
		if (n < 0 && errno != EINTR) {
			r = static_cast<uint32_t>(errno);
			break;
		}
		if (n <= 0)
			continue;
		// A stop asked for while dialling: the caller hangs the half-made link up.
		if (fds[2].revents != 0) {
			r = EINTR;
			break;
		}
		if (fds[0].revents != 0 && ready_message(sock)) {
			r = 0;
			break;
		}
		if (fds[1].revents != 0) {
			int status;
			reap(link, &status);
			r = static_cast<uint32_t>(status);
			break;
		}
	}
	close(sock);
	return r;
}

uint32_t dialup_get_status(DialConnection connection, DialStatus* status)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link == nullptr)
		return EINVAL;
	bool up = !link->reaped && !child_ended(link);
	status->state = up ? DIAL_STATE_CONNECTED : STATE_DISCONNECTED;
	status->error = 0;
	return 0;
}

// SIGTERM, then SIGKILL when pppd has not ended within the grace time.
void dialup_hang_up(DialConnection connection)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link == nullptr)
		return;
	event_unwatch_drop(link->pidfd);
	if (!link->reaped) {
		kill(link->pid, SIGTERM);
		struct pollfd p = {link->pidfd, POLLIN, 0};
		int64_t deadline = now_ms() + HANG_UP_GRACE_MS;
		int n;
		do {
			int64_t left = deadline - now_ms();
			n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
		} while (n < 0 && errno == EINTR);
		if (n <= 0)
			kill(link->pid, SIGKILL);
		reap(link, nullptr);
	}
	close(link->pidfd);
	delete link;
}

void dialup_notify_on_drop(DialConnection connection)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link != nullptr)
		event_watch_drop(link->pidfd);
}
