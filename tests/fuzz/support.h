// Shared by the libFuzzer targets: a quiet scratch environment, and runs of
// code that may end the program, caught instead of ending the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Returned by fuzz_guarded when the body came back without calling exit.
constexpr int FUZZ_RETURNED = -1;

// Once per process: a private scratch directory as HOME, standard input
// from /dev/null, standard output to /dev/null. Returns the directory's path.
const std::string &fuzz_scratch_setup();

// Enter the scratch directory (enter) or go back to the one the fuzzer was
// started in; fuzz_in_scratch pairs the two.
void fuzz_enter_scratch(bool enter);

// Run f with the scratch directory as the current one, for code that reads
// files such as "tags" from there. Only for the call: libFuzzer resolves
// corpus and artifact paths against the directory it was started in.
template <typename F>
void fuzz_in_scratch(F f)
{
    fuzz_enter_scratch(true);
    f();
    fuzz_enter_scratch(false);
}

// Run body(arg). An exit() inside it (the program's way out of an option
// error, say) comes back here as its status instead of ending the process;
// with stop_at_mode_choice set, so does the program's first isatty(), which
// is where start-up leaves option parsing for one of the two modes.
// Everything the body leaves behind must be trivially destructible.
int fuzz_guarded(void (*body)(void *), void *arg, bool stop_at_mode_choice = false);

// The status fuzz_guarded reports for a stop at the mode choice.
constexpr int FUZZ_MODE_CHOICE = -2;

// The scratch directory's file name holds data, or (present false) is gone.
void fuzz_scratch_file(const char *name, bool present, const std::string &data = "");

// A finding: print what and abort, so libFuzzer saves the input.
[[noreturn]] void fuzz_fail(const char *what, const std::string &detail = "");
