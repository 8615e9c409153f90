// Keyboard input, signals, and the read that a signal can break.
#pragma once
#include <csignal>

constexpr int PENDING_INTERRUPT = 1;
constexpr int PENDING_STOP = 2;
constexpr int PENDING_WINCH = 4;
// Not a signal: a key typed while reading the input kept the viewer
// waiting or busy, which ends the reading as an interrupt does, without
// the bell.
constexpr int PENDING_KEY = 8;

// Signals that arrived and are not yet processed.
extern volatile sig_atomic_t pending_signals;
// Descriptor keys are read from: 0 until keyboard_setup, then 2.
extern int keyboard_fd;
// Keys to be taken as typed before the keyboard is read: a start command,
// the every-file command, a key that dismissed a message. The command loop
// advances it; not owned through this pointer.
extern const char *pending_command_text;

// Take the keys of text (which must outlive them) as typed next.
void key_queue(const char *text);

// on != 0: interrupt, stop and window-size signals become pending bits;
// 0, while a child has the terminal: the interrupt and quit keys are the
// child's and the viewer ignores them, a stop stops it as by default, and
// window-size changes are ignored.
void signals_setup(int on);
// From raw mode on: every way the process can die gives the terminal back.
void signals_guard_terminal();
// Have hook called when a hang-up or a termination signal ends the viewer,
// in the handler, after the terminal is given back.
void signals_set_ending_hook(void (*hook)());
// The message module lies above this one, so the program registers at start
// how the viewer ends when the keyboard is gone (message_fatal) and how the
// bottom line says that a read of the input waits (show_bottom_line).
void signals_set_message_hooks(void (*fatal)(const char *message, int status),
                               void (*bottom_line)(const char *text, const char *suffix));
// Act on every pending signal and clear them.
void signals_process();
// Up to count bytes; the number read, -1 on error, -2 when a signal was
// pending or arrived while the read waited. Bytes that arrived are never
// dropped: only a wait is broken, never a read that has data.
int read_interruptible(int fd, void *buffer, int count);
// A read of the viewed input, as read_interruptible; once it has waited
// 0.3 s the bottom line says so, and a key typed from then on ends the
// wait (PENDING_KEY) and is read afterwards as typed. Reading that goes on
// 0.3 s after the last key was taken, waiting or not, is ended by a key
// typed from then on alike.
int read_viewed_input(int fd, void *buffer, int count);
// The wait of read_viewed_input alone, for an input read through another
// descriptor (an epoll set of several pipes): 1 ready, -2 as there.
int wait_viewed_input(int fd);
// Wait until fd has input (or its writer has gone), at most timeout_ms
// (-1: no limit; fd -1: only the time): 1 ready, 0 time up, -2 a signal.
int wait_for_input(int fd, int timeout_ms);
// As wait_for_input, and a key typed (or one queued already) ends the wait
// as well, as an interrupt would without the bell (PENDING_KEY, -2); the
// key is then read as typed. For waits that only a key or an interrupt end.
int wait_for_input_or_key(int fd, int timeout_ms);
// The key key_read would return next if it has been read from the terminal
// already, else -1; it stays queued.
int key_queued();
// Whether a key is queued, the keys the terminal holds now queued first
// when none is, so that key_queued sees them: no wait, and unlike
// wait_for_input nothing is written out first, so a paint may ask mid-way.
bool key_typed_ahead();
// One key, 0-255, or -2 when a signal was pending or arrived. Keys typed
// already are read together and kept for the calls that follow.
int key_read();
// As key_read, or KEY_OTHER_READY when fd (-1: none) has something to read
// before a key comes: for a wait that something else may end.
constexpr int KEY_OTHER_READY = -3;
int key_read_or(int fd);
// One key, 0-255, or -2 when a signal arrives during the wait; one that was
// already pending does not end it. For waits that must see a key.
int key_wait();
// A stop requested meanwhile is acted on at once (for waits that go on
// afterwards, such as a message's); 1 when there was one.
int signals_stop_if_pending();
void keyboard_setup();
void winch(int sig);
