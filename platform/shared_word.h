#pragma once
// The host-wide 32-bit word that all copies of the program share.
#include <cstdint>
#include <cstdio>

// Creates the word, or opens it when another copy holds it already (*existed).
// false when it can be neither; *error is the platform's error value either way.
bool shared_word_open(bool* existed, int* error);

// Maps the opened word into this process; null with *error when it cannot.
uint32_t* shared_word_map(int* error);

// Whether a copy holds the word, asked without opening or changing it.
bool shared_word_running();

// Replaces the status file beside the word with text, by rename: a reader sees the old text or the
// new one whole. false when it cannot.
bool shared_word_publish_status(const char* text);
// The status file for reading; null when there is none.
std::FILE* shared_word_open_status();
