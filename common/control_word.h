#pragma once
// The ControlWord: flags shared by every copy of the program, read afresh at every test.
#include <cstdint>

inline constexpr uint32_t CW_AGGREGATE = 0x01;
inline constexpr uint32_t CW_DUMP_LIST = 0x02;
inline constexpr uint32_t CW_DUMP_ROUTES = 0x04;
inline constexpr uint32_t CW_SHOW_LISTED = 0x08;
inline constexpr uint32_t CW_SHOW_CHANGES = 0x10;
inline constexpr uint32_t CW_SHOW_INTERFACES = 0x20;
inline constexpr uint32_t CW_EXIT = 0x40;

// The mapped word; set once at start-up.
extern uint32_t* control_word;

// Whole-word loads and stores: another process may write the word at any moment.
uint32_t control_word_read();
void control_word_write(uint32_t value);

inline bool control_word_has(uint32_t bit)
{
	return (control_word_read() & bit) != 0;
}

// An exit request: the word's exit bit, or a stop signal to this process.
bool exit_requested();
