#pragma once
// Host/network byte order for 32-bit words, without a sockets header.
#include <bit>
#include <cstdint>

inline uint32_t host_to_net(uint32_t v)
{
	if constexpr (std::endian::native == std::endian::big)
		return v;
	return __builtin_bswap32(v);
}

inline uint32_t net_to_host(uint32_t v)
{
	return host_to_net(v);
}
