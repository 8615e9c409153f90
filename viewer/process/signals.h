// Keyboard input, signals, and the read that a signal can break.
#pragma once
#include <csignal>

constexpr int PENDING_INTERRUPT = 1;
constexpr int PENDING_STOP = 2;
constexpr int PENDING_WINCH = 4;

// Signals that arrived and are not yet processed.
extern volatile sig_atomic_t pending_signals;
// Descriptor keys are read from: 0 until keyboard_setup, then 2.
extern int keyboard_fd;

void signals_setup(int on);
void signals_process();
// Up to count bytes; the number read, -1 on error, -2 when a signal broke it.
int read_interruptible(int fd, void *buffer, int count);
// One key, 0-255, or -2 when a signal arrived.
int key_read();
void keyboard_setup();
void winch(int sig);
