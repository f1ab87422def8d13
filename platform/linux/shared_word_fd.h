#pragma once
// The Linux word's path, and its locked descriptor for the relaunch: the child receives it as
// HANDED_WORD_FD.

// The descriptor number at which a relaunched copy finds the word's locked descriptor.
inline constexpr int HANDED_WORD_FD = 3;

// The descriptor whose open file description holds this process's lock on the word, or -1.
int shared_word_descriptor();

// Root's folder under /run, or /dev/shm for any other user.
const char* shared_word_path();
