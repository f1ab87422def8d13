/*
 * A stand-in IP Helper for the wine tests, placed beside lanxroute.exe and loaded with
 * WINEDLLOVERRIDES=iphlpapi=n,b. It serves fixed tables, the forwarding rows deliberately out of
 * order, refuses a created route whose metric is below the interface's (as Windows does since Vista)
 * or whose protocol is not network management (as Windows does), and appends every write it is
 * asked for to "iphlpapi.calls" in the current folder.
 */
#define _WIN32_WINNT 0x0600
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <stdio.h>
#include <string.h>

#define INTERFACE_METRIC 25

static DWORD addr(int a, int b, int c, int d)
{
	return (DWORD)a | (DWORD)b << 8 | (DWORD)c << 16 | (DWORD)d << 24;
}

static void record(const char *op, const MIB_IPFORWARDROW *r, DWORD status)
{
	const unsigned char *d = (const unsigned char *)&r->dwForwardDest;
	const unsigned char *m = (const unsigned char *)&r->dwForwardMask;
	const unsigned char *h = (const unsigned char *)&r->dwForwardNextHop;
	FILE *f = fopen("iphlpapi.calls", "a");

	if (f == NULL)
		return;
	fprintf(f, "%s %u.%u.%u.%u/%u.%u.%u.%u via %u.%u.%u.%u if %lu type %lu proto %lu metric %lu: %lu\n",
	    op, d[0], d[1], d[2], d[3], m[0], m[1], m[2], m[3], h[0], h[1], h[2], h[3],
	    r->dwForwardIfIndex, r->dwForwardType, r->dwForwardProto, r->dwForwardMetric1, status);
	fclose(f);
}

static void route(MIB_IPFORWARDROW *r, DWORD dest, DWORD mask, DWORD hop, DWORD index, DWORD type)
{
	memset(r, 0, sizeof *r);
	r->dwForwardDest = dest;
	r->dwForwardMask = mask;
	r->dwForwardNextHop = hop;
	r->dwForwardIfIndex = index;
	r->dwForwardType = type;
	r->dwForwardProto = MIB_IPPROTO_NETMGMT;
	r->dwForwardMetric1 = INTERFACE_METRIC + 5;
}

/* 192.0.2.0 with three masks, the shortest first (a static route), among the others out of order. */
static void fill_routes(MIB_IPFORWARDTABLE *t)
{
	DWORD lanx = addr(10, 1, 0, 1), world = addr(10, 2, 0, 1);

	t->dwNumEntries = 6;
	route(&t->table[0], addr(192, 0, 2, 0), addr(255, 255, 255, 0), world, 5, MIB_IPROUTE_TYPE_INDIRECT);
	t->table[0].dwForwardProto = MIB_IPPROTO_NT_STATIC;
	route(&t->table[1], addr(10, 2, 0, 0), addr(255, 255, 255, 0), 0, 5, MIB_IPROUTE_TYPE_DIRECT);
	route(&t->table[2], 0, 0, world, 5, MIB_IPROUTE_TYPE_INDIRECT);
	route(&t->table[3], addr(192, 0, 2, 0), addr(255, 255, 255, 192), lanx, 3, MIB_IPROUTE_TYPE_INDIRECT);
	route(&t->table[4], addr(10, 1, 0, 0), addr(255, 255, 255, 0), 0, 3, MIB_IPROUTE_TYPE_DIRECT);
	route(&t->table[5], addr(192, 0, 2, 0), addr(255, 255, 255, 128), lanx, 3, MIB_IPROUTE_TYPE_INDIRECT);
}

__declspec(dllexport) DWORD WINAPI GetIpForwardTable(PMIB_IPFORWARDTABLE table, PULONG size, BOOL order)
{
	ULONG need = sizeof(MIB_IPFORWARDTABLE) + 5 * sizeof(MIB_IPFORWARDROW);

	(void)order;
	if (table == NULL || *size < need) {
		*size = need;
		return ERROR_INSUFFICIENT_BUFFER;
	}
	fill_routes(table);
	return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI GetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL order)
{
	ULONG need = sizeof(MIB_IPADDRTABLE) + sizeof(MIB_IPADDRROW);

	(void)order;
	if (table == NULL || *size < need) {
		*size = need;
		return ERROR_INSUFFICIENT_BUFFER;
	}
	memset(table, 0, need);
	table->dwNumEntries = 2;
	table->table[0].dwAddr = addr(10, 1, 0, 2);
	table->table[0].dwMask = addr(255, 255, 255, 0);
	table->table[0].dwIndex = 3;
	table->table[1].dwAddr = addr(10, 2, 0, 2);
	table->table[1].dwMask = addr(255, 255, 255, 0);
	table->table[1].dwIndex = 5;
	return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI CreateIpForwardEntry(PMIB_IPFORWARDROW row)
{
	DWORD status = row->dwForwardProto != MIB_IPPROTO_NETMGMT ? ERROR_INVALID_PARAMETER
	    : row->dwForwardMetric1 < INTERFACE_METRIC ? ERROR_BAD_ARGUMENTS : NO_ERROR;

	record("create", row, status);
	return status;
}

__declspec(dllexport) DWORD WINAPI SetIpForwardEntry(PMIB_IPFORWARDROW row)
{
	record("set", row, NO_ERROR);
	return NO_ERROR;
}

__declspec(dllexport) DWORD WINAPI DeleteIpForwardEntry(PMIB_IPFORWARDROW row)
{
	record("delete", row, NO_ERROR);
	return NO_ERROR;
}

__declspec(dllexport) NETIO_STATUS WINAPI GetIpInterfaceEntry(PMIB_IPINTERFACE_ROW row)
{
	FILE *f = fopen("iphlpapi.calls", "a");

	if (f != NULL) {
		fprintf(f, "interface family %u index %lu\n", (unsigned)row->Family, row->InterfaceIndex);
		fclose(f);
	}
	if (row->Family != AF_INET)
		return ERROR_INVALID_PARAMETER;
	row->Metric = INTERFACE_METRIC;
	return NO_ERROR;
}
