#include "common/control_word.h"

#include <atomic>

#include "platform/process.h"

uint32_t* control_word;

uint32_t control_word_read()
{
	return std::atomic_ref<uint32_t>(*control_word).load(std::memory_order_relaxed);
}

void control_word_write(uint32_t value)
{
	std::atomic_ref<uint32_t>(*control_word).store(value, std::memory_order_relaxed);
}

bool exit_requested()
{
	return control_word_has(CW_EXIT) || process_stop_requested();
}
