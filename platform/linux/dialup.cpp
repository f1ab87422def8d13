// Dial-up through pppd, supervised as this process's own child (pppd_child): "READY=1" on our
// notify socket means the link is up, the child's end means it is down. The end of the held link's
// pppd (its pidfd turning readable) is the drop notice that ends the wait between cycles.
#include "platform/dialup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/linux/pppd_child.h"
#include "platform/linux/stop_signal.h"

static constexpr const char* PEERS_DIR = "/etc/ppp/peers/";
static constexpr int DIAL_TIMEOUT_MS = 90000;
static constexpr int HANG_UP_GRACE_MS = 5000;
static constexpr uint32_t STATE_DISCONNECTED = 0x2001; // RASCS_Disconnected

// The pidfd whose readiness is the drop notice, or -1: it fires once, and the wait that sees it
// stops watching.
static int watched_pidfd = -1;

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

// Waits for the child's "READY=1" (0), its end (its exit status), a stop request (EINTR) or the
// time-out.
static uint32_t wait_until_up(PppLink* link, int sock)
{
	int64_t deadline = now_ms() + DIAL_TIMEOUT_MS;
	for (;;) {
		int64_t left = deadline - now_ms();
		if (left <= 0)
			return ETIMEDOUT;
		struct pollfd fds[3] = {{sock, POLLIN, 0}, {link->pidfd, POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
		int n = poll(fds, 3, static_cast<int>(left));
		if (n < 0 && errno != EINTR)
			return static_cast<uint32_t>(errno);
		if (n <= 0)
			continue;
		// A stop asked for while dialling: the caller hangs the half-made link up.
		if (fds[2].revents != 0)
			return EINTR;
		if (fds[0].revents != 0 && pppd_ready(sock))
			return 0;
		if (fds[1].revents != 0) {
			int status;
			pppd_reap(link, &status);
			return static_cast<uint32_t>(status);
		}
	}
}

uint32_t dialup_dial(DialParams* params, DialHandle* connection)
{
	if (!entry_name_allowed(params->entry_name))
		return EINVAL;
	PppLink* link = new (std::nothrow) PppLink{-1, -1, false};
	if (link == nullptr)
		return ENOMEM;
	char notify[sizeof(sockaddr_un::sun_path) + 32];
	int sock = pppd_notify_socket(notify, sizeof notify);
	uint32_t r = sock < 0 ? static_cast<uint32_t>(errno) : pppd_spawn(link, params->entry_name, notify);
	if (r == 0) {
		// From here on the caller owns the link and hangs it up on any failure.
		*connection = reinterpret_cast<DialHandle>(link);
		r = wait_until_up(link, sock);
	} else {
		delete link;
	}
	if (sock >= 0)
		close(sock);
	return r;
}

uint32_t dialup_get_status(DialHandle connection, DialStatus* status)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link == nullptr)
		return EINVAL;
	bool up = !link->reaped && !pppd_ended(link);
	status->state = up ? DIAL_STATE_CONNECTED : STATE_DISCONNECTED;
	status->error = 0;
	return 0;
}

// SIGTERM, then SIGKILL when pppd has not ended within the grace time.
void dialup_hang_up(DialHandle connection)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link == nullptr)
		return;
	if (watched_pidfd == link->pidfd)
		watched_pidfd = -1;
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
		pppd_reap(link, nullptr);
	}
	close(link->pidfd);
	delete link;
}

// Nothing to create: the drop notice is the held pppd's pidfd.
bool dialup_event_create(int*)
{
	return true;
}

void dialup_notify_on_drop(DialHandle connection)
{
	PppLink* link = reinterpret_cast<PppLink*>(connection);
	if (link != nullptr)
		watched_pidfd = link->pidfd;
}

bool dialup_wait_for_drop(uint32_t ms)
{
	if (!wait_unless_stopped(watched_pidfd, ms))
		return false;
	watched_pidfd = -1;
	return true;
}
