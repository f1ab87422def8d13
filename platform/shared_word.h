#pragma once
// The host-wide 32-bit word that all copies of the program share.
#include <cstdint>

// Creates the word, or opens it when another copy holds it already (*existed).
// false when it can be neither; *error is the platform's error value either way.
bool shared_word_open(bool* existed, int* error);

// Maps the opened word into this process; null with *error when it cannot.
uint32_t* shared_word_map(int* error);
