// Option strings as start-up applies them: the input is MIVO and then the
// command-line arguments, separated by NUL bytes. The program's own start
// runs up to the point where it picks copying or interactive mode; an
// option error ends it there with status 1, caught by the exit hook.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/program.h"
#include "viewer/control/start.h"
#include "viewer/control/prompt.h"
#include "viewer/input/log.h"
#include "viewer/navigation/tags.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

namespace {

// MIVO=, the text (longer ones are cut) and its NUL. putenv keeps the
// buffer itself, so no copy of any value piles up over millions of runs.
char mivo_entry[8192];

// Every setting within what its kind allows.
void check_settings()
{
    for (const option_entry *o = option_table; o->letter; o++) {
        int v = *o->setting;
        bool ok = o->kind & OPT_BOOL       ? v == 0 || v == 1
                  : o->kind & OPT_THREEWAY ? v >= 0 && v <= 2
                  : !(o->kind & OPT_NUMBER) || v == o->default_value || v >= 0;
        if (!ok)
            fuzz_fail("setting out of range", std::string(1, o->letter) + "=" + std::to_string(v));
    }
    if (opt_x < 1)
        fuzz_fail("tab stop below 1", std::to_string(opt_x));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A tags file for -t to look in, and the file it names.
    [[maybe_unused]] static bool scratch_files = [] {
        fuzz_scratch_file("tags", true, "main\ttext\t/^int main(void)$/\n"
                                        "loop text ?^for (;;)?\n"
                                        "bare\ttext\n");
        fuzz_scratch_file("text", true, "int main(void)\n");
        return true;
    }();
    // MIVO, then the arguments; MIVO's place goes to the program's name.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    snprintf(mivo_entry, sizeof mivo_entry, "MIVO=%s", args[0].c_str());
    putenv(mivo_entry);
    args[0] = "quorel";
    // Names that could reach outside the scratch directory, or standard
    // input (which can be viewed only once per process), stay at home.
    for (std::string &p : args) {
        bool option = (p[0] == '-' || p[0] == '+') && p.size() > 1;
        if (!option && (p == "-" || p.find('/') != std::string::npos))
            p = "text";
    }
    std::vector<char *> argv = fuzz_argv(args);

    settings_reset();
    tag_file_name = nullptr;
    int errors_before = error_count;
    int status = 0;
    fuzz_in_scratch([&] {
        status = fuzz_guarded([&] { quorel_main(static_cast<int>(args.size()), argv.data()); },
                              true);
    });

    // --help or --version among the leading arguments answers and ends at once.
    bool long_option = false;
    for (size_t i = 1; i < args.size(); i++) {
        const std::string &a = args[i];
        if ((a[0] != '-' && a[0] != '+') || a.size() < 2)
            break;
        long_option = long_option || a == "--help" || a == "--version";
    }

    if (long_option) {
        if (status != 0)
            fuzz_fail("--help or --version ended with a status", std::to_string(status));
    } else if (status == 1) {
        if (error_count == errors_before)
            fuzz_fail("option error without a message");
    } else if (status != FUZZ_MODE_CHOICE) {
        fuzz_fail("start-up ended with an unexpected status", std::to_string(status));
    } else {
        check_settings();
        if (file_list + file_count != argv.data() + args.size() || file_count < 0)
            fuzz_fail("file list does not end with the arguments");
    }
    fuzz_touch(pending_command_text);
    fuzz_touch(first_command);
    fuzz_touch(log_file_name);
    fuzz_touch(tag_file_name);
    for (int which : {PROMPT_SHORT, PROMPT_MEDIUM, PROMPT_LONG, PROMPT_STATUS})
        fuzz_touch(prompt_template(which));
    unsetenv("MIVO");
    return 0;
}
