#include "tests/fuzz/support.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
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

[[noreturn]] void leave_body(int status)
{
    sigjmp_buf *target = exit_target;
    exit_target = nullptr;
    stop_at_isatty = false;
    exit_status = status;
    siglongjmp(*target, 1);
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

int fuzz_guarded(void (*body)(void *), void *arg, bool stop_at_mode_choice)
{
    sigjmp_buf here;
    if (sigsetjmp(here, 0))
        return exit_status;
    exit_target = &here;
    stop_at_isatty = stop_at_mode_choice;
    body(arg);
    exit_target = nullptr;
    stop_at_isatty = false;
    return FUZZ_RETURNED;
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

void fuzz_enter_scratch(bool enter)
{
    if (enter ? chdir(fuzz_scratch_setup().c_str()) != 0 : fchdir(home_fd) != 0)
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
