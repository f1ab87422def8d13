#pragma once
// The Linux word's locked descriptor, for the relaunch: the child receives it as descriptor 3.

// The descriptor whose open file description holds this process's lock on the word, or -1.
int shared_word_descriptor();
