/* A stand-in IP Helper, loaded with WINEDLLOVERRIDES=iphlpapi=n,b: fixed tables, the forwarding rows
 * out of order; refuses a created route below the interface metric (as Windows since Vista) or not
 * of network management; appends every write to "iphlpapi.calls" in the current folder. */
#define _WIN32_WINNT 0x0600
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <stdio.h>
#include <string.h>

#define METRIC 25
#define A(a, b, c, d) ((DWORD)(a) | (DWORD)(b) << 8 | (DWORD)(c) << 16 | (DWORD)(d) << 24)

static DWORD record(const char* op, const MIB_IPFORWARDROW* r, DWORD status)
{
	const unsigned char *d = (const void*)&r->dwForwardDest, *m = (const void*)&r->dwForwardMask;
	const unsigned char* h = (const void*)&r->dwForwardNextHop;
	FILE* f = fopen("iphlpapi.calls", "a");
	fprintf(f, "%s %u.%u.%u.%u/%u.%u.%u.%u via %u.%u.%u.%u if %lu type %lu proto %lu metric %lu: %lu\n", op, d[0],
		d[1], d[2], d[3], m[0], m[1], m[2], m[3], h[0], h[1], h[2], h[3], r->dwForwardIfIndex, r->dwForwardType,
		r->dwForwardProto, r->dwForwardMetric1, status);
	fclose(f);
	return status;
}

/* Whether the caller's block holds need bytes; else the size it must have. */
static int fits(const void* t, PULONG size, ULONG need)
{
	int ok = t != NULL && *size >= need;
	*size = ok ? *size : need;
	return ok;
}

/* 192.0.2.0 with three masks, the shortest first (a static route), among the others out of order;
 * 198.51.100.0/24 of network management on the world link. */
static const DWORD rows[7][6] = {
	{A(198, 51, 100, 0), A(255, 255, 255, 0), A(10, 2, 0, 1), 5, 4, 3},
	{A(192, 0, 2, 0), A(255, 255, 255, 0), A(10, 2, 0, 1), 5, 4, MIB_IPPROTO_NT_STATIC},
	{A(10, 2, 0, 0), A(255, 255, 255, 0), 0, 5, 3, 3},
	{0, 0, A(10, 2, 0, 1), 5, 4, 3},
	{A(192, 0, 2, 0), A(255, 255, 255, 192), A(10, 1, 0, 1), 3, 4, 3},
	{A(10, 1, 0, 0), A(255, 255, 255, 0), 0, 3, 3, 3},
	{A(192, 0, 2, 0), A(255, 255, 255, 128), A(10, 1, 0, 1), 3, 4, 3},
};

__declspec(dllexport) DWORD WINAPI GetIpForwardTable(PMIB_IPFORWARDTABLE t, PULONG size, BOOL order)
{
	(void)order;
	if (!fits(t, size, sizeof *t + 6 * sizeof t->table[0]))
		return ERROR_INSUFFICIENT_BUFFER;
	t->dwNumEntries = 7;
	for (int i = 0; i < 7; i++) {
		MIB_IPFORWARDROW* r = memset(&t->table[i], 0, sizeof t->table[i]);
		r->dwForwardDest = rows[i][0];
		r->dwForwardMask = rows[i][1];
		r->dwForwardNextHop = rows[i][2];
		r->dwForwardIfIndex = rows[i][3];
		r->dwForwardType = rows[i][4];
		r->dwForwardProto = rows[i][5];
		r->dwForwardMetric1 = METRIC + 5;
	}
	return NO_ERROR;
}

static const MIB_IPADDRROW addresses[2] = {
	{.dwAddr = A(10, 1, 0, 2), .dwIndex = 3, .dwMask = A(255, 255, 255, 0)},
	{.dwAddr = A(10, 2, 0, 2), .dwIndex = 5, .dwMask = A(255, 255, 255, 0)},
};

__declspec(dllexport) DWORD WINAPI GetIpAddrTable(PMIB_IPADDRTABLE t, PULONG size, BOOL order)
{
	(void)order;
	if (!fits(t, size, sizeof *t + sizeof t->table[0]))
		return ERROR_INSUFFICIENT_BUFFER;
	t->dwNumEntries = 2;
	memcpy(t->table, addresses, sizeof addresses);
	return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI CreateIpForwardEntry(PMIB_IPFORWARDROW row)
{
	return record("create", row,
		      row->dwForwardProto != MIB_IPPROTO_NETMGMT ? ERROR_INVALID_PARAMETER
		      : row->dwForwardMetric1 < METRIC           ? ERROR_BAD_ARGUMENTS
								 : NO_ERROR);
}

__declspec(dllexport) DWORD WINAPI DeleteIpForwardEntry(PMIB_IPFORWARDROW row)
{
	return record("delete", row, NO_ERROR);
}

__declspec(dllexport) NETIO_STATUS WINAPI GetIpInterfaceEntry(PMIB_IPINTERFACE_ROW row)
{
	FILE* f = fopen("iphlpapi.calls", "a");
	fprintf(f, "interface %lu\n", row->InterfaceIndex);
	fclose(f);
	row->Metric = METRIC;
	return row->Family == AF_INET ? NO_ERROR : ERROR_INVALID_PARAMETER;
}
