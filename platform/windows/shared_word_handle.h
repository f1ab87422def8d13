#pragma once
// The Windows section handle, for the relaunch: the child must create the section anew.

// Closes this process's handle on the section; the mapped view stays valid.
void shared_word_close();
