// The interactive command loop.
#pragma once

[[noreturn]] void command_loop();
