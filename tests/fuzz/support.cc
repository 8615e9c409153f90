#include "tests/fuzz/support.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tests/unit/fixtures.h"

#include <sanitizer/common_interface_defs.h>

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" int __real_isatty(int fd);

namespace {

sigjmp_buf *exit_target;
int exit_status;
bool stop_at_isatty;
int home_fd = -1;     // the directory the fuzzer was started in
volatile size_t touched_length;

[[noreturn]] void leave_body(int status)
{
    exit_status = status;
    siglongjmp(*exit_target, 1);
}

} // namespace

// The targets link with --wrap=exit and --wrap=isatty: every call of the
// two, the fuzzer's own included, lands here, and only a call made inside
// fuzz_guarded is diverted.
extern "C" [[noreturn]] void __wrap_exit(int status)
{
    if (exit_target)
        leave_body(status);
    __real_exit(status);
}

extern "C" int __wrap_isatty(int fd)
{
    if (exit_target && stop_at_isatty)
        leave_body(FUZZ_MODE_CHOICE);
    return __real_isatty(fd);
}

int fuzz_guarded_call(void (*body)(void *), void *arg, bool stop_at_mode_choice)
{
    sigjmp_buf here;
    exit_status = FUZZ_RETURNED;
    if (sigsetjmp(here, 0) == 0) {
        exit_target = &here;
        stop_at_isatty = stop_at_mode_choice;
        body(arg);
    }
    exit_target = nullptr;
    stop_at_isatty = false;
    return exit_status;
}

const std::string &fuzz_scratch_setup()
{
    static std::string dir;
    if (!dir.empty())
        return dir;
    dir = temp_dir("quorel_fuzz");
    home_fd = open(".", O_RDONLY | O_DIRECTORY);
    if (dir.empty() || home_fd < 0)
        fuzz_fail("no scratch directory");
    setenv("HOME", dir.c_str(), 1);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0)
        fuzz_fail("no /dev/null");
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    close(null_fd);
    // The directory goes when the fuzzer ends, however it ends normally.
    atexit([] { remove_tree(dir); });
    return dir;
}

void fuzz_in_scratch(const std::function<void()> &f)
{
    if (chdir(fuzz_scratch_setup().c_str()) != 0)
        fuzz_fail("cannot change directory");
    f();
    if (fchdir(home_fd) != 0)
        fuzz_fail("cannot change directory");
}

void fuzz_scratch_file(const char *name, bool present, const std::string &data)
{
    std::string path = fuzz_scratch_setup() + "/" + name;
    remove(path.c_str());
    if (!present)
        return;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0 && write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    if (fd < 0 || close(fd) != 0 || !ok)
        fuzz_fail("cannot write a scratch file", name);
}

void fuzz_open_input(const std::string &text, bool pipe, int buffers)
{
    if (pipe ? input_from_pipe(text, true, buffers) == -2 : input_from_text(text, buffers) < 0)
        fuzz_fail("cannot open the input");
}

std::vector<std::string> fuzz_fgets_pieces(std::string_view text, size_t limit)
{
    std::vector<std::string> pieces;
    for (size_t pos = 0; pos < text.size(); pos += pieces.back().size()) {
        size_t newline = text.find('\n', pos);
        size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        pieces.emplace_back(text.substr(pos, std::min(end - pos, limit)));
    }
    return pieces;
}

std::vector<char *> fuzz_argv(std::vector<std::string> &strings)
{
    std::vector<char *> argv;
    for (std::string &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

void fuzz_touch(const char *text)
{
    if (text)
        touched_length = touched_length + strlen(text);
}

// Every target starts with its scratch directory in place.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_scratch_setup();
    return 0;
}

void fuzz_fail(const char *what, const std::string &detail)
{
    // Through the sanitizers' report channel: the runs keep standard error
    // closed (-close_fd_mask=2) against the viewer's own messages.
    std::string text = std::string("fuzz finding: ") + what;
    if (!detail.empty())
        text += ": " + detail;
    __sanitizer_report_error_summary(text.c_str());
    abort();
}
