#pragma once
// What every unit test shares: the log read back whole, addresses written as octets, a clean word,
// a scratch directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/control_word.h"
#include "common/log.h"
#include "platform/byte_order.h"

// a.b.c.d in host order, and in network order as the tables hold it.
constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
	return a << 24 | b << 16 | c << 8 | d;
}

inline uint32_t net(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
	return host_to_net(ip(a, b, c, d));
}

// Host-order address as a.b.c.d.
inline std::string dotted(uint32_t a)
{
	return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." + std::to_string(a >> 8 & 255) +
	       "." + std::to_string(a & 255);
}

inline uint32_t test_word;

// The log on a fresh temporary file and the control word set to flags.
inline void start_test_log(uint32_t flags = 0)
{
	if (log_stream)
		std::fclose(log_stream);
	log_stream = std::tmpfile();
	test_word = flags;
	control_word = &test_word;
}

// Everything written to the log so far.
inline std::string log_text()
{
	std::string text;
	std::rewind(log_stream);
	for (int c = std::fgetc(log_stream); c != EOF; c = std::fgetc(log_stream))
		text += static_cast<char>(c);
	return text;
}

// The working directory for a scope: a new directory under /tmp, removed with all it holds at the end.
struct ScopedTempDir {
	const std::filesystem::path before = std::filesystem::current_path();
	char path[24] = "/tmp/lanx_test_XXXXXX";
	ScopedTempDir()
	{
		EXPECT_EQ(chdir(mkdtemp(path)), 0);
	}
	~ScopedTempDir()
	{
		std::filesystem::current_path(before);
		std::filesystem::remove_all(path);
	}
};
