// The forwarding table through IP Helper.
#include "platform/routing.h"

// The sockets headers before windows.h, and IP Helper's after both.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>
#include <netioapi.h>

#include <cstdlib>

// IP Helper names a route by destination, mask, interface and next hop; the protocols of its own
// above 255 (the NT static ones) read as another's.
static RouteRow to_route_row(const MIB_IPFORWARDROW& m)
{
	RouteRow r{};
	r.dest = m.dwForwardDest;
	r.mask = m.dwForwardMask;
	r.next_hop = m.dwForwardNextHop;
	r.if_index = m.dwForwardIfIndex;
	r.metric1 = m.dwForwardMetric1;
	r.fetched_if_index = m.dwForwardIfIndex;
	r.fetched_next_hop = m.dwForwardNextHop;
	r.policy = static_cast<uint8_t>(m.dwForwardPolicy);
	r.type = static_cast<uint8_t>(m.dwForwardType);
	r.proto = m.dwForwardProto <= 0xFF ? static_cast<uint8_t>(m.dwForwardProto) : ROUTE_PROTO_OTHER;
	return r;
}

// A row to hand IP Helper: of no age limit, the metrics past the first unused.
static MIB_IPFORWARDROW to_mib_row(const RouteRow* r)
{
	MIB_IPFORWARDROW m{};
	m.dwForwardDest = r->dest;
	m.dwForwardMask = r->mask;
	m.dwForwardPolicy = r->policy;
	m.dwForwardNextHop = r->next_hop;
	m.dwForwardIfIndex = r->if_index;
	m.dwForwardType = r->type;
	m.dwForwardProto = r->proto;
	m.dwForwardAge = INFINITE;
	m.dwForwardMetric1 = r->metric1;
	m.dwForwardMetric2 = MIB_IPROUTE_METRIC_UNUSED;
	m.dwForwardMetric3 = MIB_IPROUTE_METRIC_UNUSED;
	m.dwForwardMetric4 = MIB_IPROUTE_METRIC_UNUSED;
	m.dwForwardMetric5 = MIB_IPROUTE_METRIC_UNUSED;
	return m;
}

bool routing_fetch_routes(RouteRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	*rows = nullptr;
	*count = 0;
	ULONG size = 0;
	DWORD r = GetIpForwardTable(nullptr, &size, FALSE);
	if (r != ERROR_INSUFFICIENT_BUFFER) {
		*status = r;
		*failed = FETCH_SIZE;
		return false;
	}
	MIB_IPFORWARDTABLE* table = static_cast<MIB_IPFORWARDTABLE*>(std::malloc(size));
	if (!table) {
		*status = ERROR_NOT_ENOUGH_MEMORY;
		*failed = FETCH_MEMORY;
		return false;
	}
	r = GetIpForwardTable(table, &size, TRUE);
	if (r != NO_ERROR) {
		std::free(table);
		*status = r;
		*failed = FETCH_TABLE;
		return false;
	}
	DWORD n = table->dwNumEntries;
	RouteRow* out = static_cast<RouteRow*>(std::malloc((n + 1) * sizeof(RouteRow)));
	if (!out) {
		std::free(table);
		*status = ERROR_NOT_ENOUGH_MEMORY;
		*failed = FETCH_MEMORY;
		return false;
	}
	for (DWORD i = 0; i < n; i++)
		out[i] = to_route_row(table->table[i]);
	std::free(table);
	*rows = out;
	*count = n;
	*status = 0;
	return true;
}

bool routing_fetch_addresses(AddressRow** rows, uint32_t* count, uint32_t* status, FetchStep* failed)
{
	*rows = nullptr;
	*count = 0;
	ULONG size = 0;
	DWORD r = GetIpAddrTable(nullptr, &size, FALSE);
	if (r != ERROR_INSUFFICIENT_BUFFER) {
		*status = r;
		*failed = FETCH_SIZE;
		return false;
	}
	MIB_IPADDRTABLE* table = static_cast<MIB_IPADDRTABLE*>(std::malloc(size));
	if (!table) {
		*status = ERROR_NOT_ENOUGH_MEMORY;
		*failed = FETCH_MEMORY;
		return false;
	}
	r = GetIpAddrTable(table, &size, TRUE);
	if (r != NO_ERROR) {
		std::free(table);
		*status = r;
		*failed = FETCH_TABLE;
		return false;
	}
	DWORD n = table->dwNumEntries;
	AddressRow* out = static_cast<AddressRow*>(std::malloc((n + 1) * sizeof(AddressRow)));
	if (!out) {
		std::free(table);
		*status = ERROR_NOT_ENOUGH_MEMORY;
		*failed = FETCH_MEMORY;
		return false;
	}
	for (DWORD i = 0; i < n; i++) {
		out[i].addr = table->table[i].dwAddr;
		out[i].index = table->table[i].dwIndex;
		out[i].mask = table->table[i].dwMask;
	}
	std::free(table);
	*rows = out;
	*count = n;
	*status = 0;
	return true;
}

void routing_free(void* rows)
{
	std::free(rows);
}

static uint32_t routing_create(const RouteRow* row)
{
	MIB_IPFORWARDROW m = to_mib_row(row);
	DWORD status = CreateIpForwardEntry(&m);
	// Since Vista a metric below the interface's own is refused (error 160): raise it by that metric.
	// Asked only then, as not every IP Helper can tell an interface's metric.
	if (status == ERROR_BAD_ARGUMENTS) {
		MIB_IPINTERFACE_ROW iface{};
		iface.Family = AF_INET;
		iface.InterfaceIndex = row->if_index;
		if (GetIpInterfaceEntry(&iface) == NO_ERROR) {
			m.dwForwardMetric1 += iface.Metric;
			status = CreateIpForwardEntry(&m);
		}
	}
	return status;
}

// Deletes the route as it was fetched.
static uint32_t routing_delete(const RouteRow* row)
{
	MIB_IPFORWARDROW m = to_mib_row(row);
	m.dwForwardIfIndex = row->fetched_if_index;
	m.dwForwardNextHop = row->fetched_next_hop;
	return DeleteIpForwardEntry(&m);
}

// SetIpForwardEntry cannot move a route to another interface: create the re-pointed route, then
// delete the old one, so that a refused create leaves the old route in place. IP Helper creates
// only network-management routes, whatever protocol the fetched row had.
static uint32_t routing_rewrite(const RouteRow* row)
{
	RouteRow repointed = *row;
	repointed.proto = ROUTE_PROTO_NETMGMT;
	uint32_t status = routing_create(&repointed);
	if (status != 0)
		return status;
	return routing_delete(row);
}

// IP Helper has no batches: each change is made in turn.
void routing_apply(const RouteChange* changes, const RouteRow* rows, uint32_t count, uint32_t* statuses)
{
	for (uint32_t i = 0; i < count; i++) {
		const RouteRow* row = &rows[i];
		switch (changes[i]) {
		case ROUTE_CREATE:
			statuses[i] = routing_create(row);
			break;
		case ROUTE_REWRITE:
			statuses[i] = routing_rewrite(row);
			break;
		case ROUTE_DELETE:
			statuses[i] = routing_delete(row);
			break;
		}
	}
}
