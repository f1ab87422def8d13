// Dial-up through pppd, supervised as this process's own child (pppd_child): "READY=1" on our
// notify socket means the link is up, the child's end means it is down.
#include "platform/dialup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/linux/drop_watch.h"
#include "platform/linux/pppd_child.h"
#include "platform/linux/stop_signal.h"

static constexpr const char* PEERS_DIR = "/etc/ppp/peers/";
static constexpr int DIAL_TIMEOUT_MS = 90000;
static constexpr int HANG_UP_GRACE_MS = 5000;
static constexpr uint32_t STATE_DISCONNECTED = 0x2001;

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
