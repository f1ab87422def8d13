#pragma once
// pppd as this process's own child: started with a notify socket of ours, on which "READY=1" means
// the link is up, and watched through its pidfd, whose readiness means it has ended.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct PppLink {
	pid_t pid;
	int pidfd;
	bool reaped;
};

// Waits for the ended child; *status (if given) becomes its end as a dial error.
void pppd_reap(PppLink* link, int* status);
bool pppd_ended(const PppLink* link);
// True when sock holds a "READY=1" from the child.
bool pppd_ready(int sock);
// A socket of a name the kernel picks, that name in NOTIFY_SOCKET's notation in *name_text; -1 with errno.
int pppd_notify_socket(char* name_text, size_t size);
// Starts "pppd call NAME up_sdnotify nopersist", to die with us; 0 or the errno.
uint32_t pppd_spawn(PppLink* link, const char* name, char* notify);
