#pragma once
// Between the dial-up layer and the event: the descriptor that becomes readable when the
// current connection drops (its pppd's pidfd).

// The next waits also watch fd; a drop seen there signals the event once.
void event_watch_drop(int fd);
// Stops watching fd, if it is the one watched.
void event_unwatch_drop(int fd);
