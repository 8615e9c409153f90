// Shared by the libFuzzer targets: a quiet scratch environment, runs of
// code that may end the program, caught instead of ending the fuzzer, and
// readings of input bytes that more than one target makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What fuzz_guarded reports when the body came back without calling exit,
// and when it stopped at the mode choice.
constexpr int FUZZ_RETURNED = -1;
constexpr int FUZZ_MODE_CHOICE = -2;

// Once per process: a private scratch directory as HOME, standard input
// from /dev/null, standard output to /dev/null. Returns the directory's path.
const std::string &fuzz_scratch_setup();

// Run f with the scratch directory as the current one, for code that reads
// files such as "tags" from there. Only for the call: libFuzzer resolves
// corpus and artifact paths against the directory it was started in.
void fuzz_in_scratch(const std::function<void()> &f);

int fuzz_guarded_call(void (*body)(void *), void *arg, bool stop_at_mode_choice);

// Run body(). An exit() inside it (the program's way out of an option
// error, say) comes back here as its status instead of ending the process;
// with stop_at_mode_choice set, so does the program's first isatty(), which
// is where start-up leaves option parsing for one of the two modes.
// Everything the body leaves behind must be trivially destructible.
template <typename F>
int fuzz_guarded(F body, bool stop_at_mode_choice = false)
{
    return fuzz_guarded_call([](void *f) { (*static_cast<F *>(f))(); }, &body,
                             stop_at_mode_choice);
}

// The scratch directory's file name holds data, or (present false) is gone.
void fuzz_scratch_file(const char *name, bool present, const std::string &data = "");

// text as the current input, from a file or from a pipe (where it must fit).
void fuzz_open_input(const std::string &text, bool pipe = false, int buffers = 4);

// text as far as C code sees it.
inline std::string fuzz_c_string(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

// text in the pieces that fgets with room for limit bytes hands out.
std::vector<std::string> fuzz_fgets_pieces(std::string_view text, size_t limit);

// A null-terminated array of pointers into strings, as argv or a file list.
std::vector<char *> fuzz_argv(std::vector<std::string> &strings);

// Read a text the program keeps to its end, so that the sanitizers catch
// one that is not terminated or is freed. Null is no text.
void fuzz_touch(const char *text);

// A finding: print what and abort, so libFuzzer saves the input.
[[noreturn]] void fuzz_fail(const char *what, const std::string &detail = "");
