// The interactive command loop.
#pragma once

// Lines moved by the half-screen commands.
extern int scroll;

[[noreturn]] void command_loop();
