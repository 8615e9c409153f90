// Option strings as start-up applies them: the input is MIVO and then the
// command-line arguments, separated by NUL bytes. The program's own start
// runs up to the point where it picks copying or interactive mode; an
// option error ends it there with status 1, caught by the exit hook.
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/program.h"
#include "viewer/display/prompt.h"
#include "viewer/input/log.h"
#include "viewer/navigation/tags.h"
#include "viewer/options/option.h"
#include "viewer/terminal/message.h"

namespace {

// MIVO=, the text (longer ones are cut) and its NUL. putenv keeps the
// buffer itself, so no copy of any value piles up over millions of runs.
char mivo_entry[8192];

struct start_args {
    int argc;
    char **argv;
};

void start(void *arg)
{
    auto *a = static_cast<start_args *>(arg);
    quorel_main(a->argc, a->argv);
}

bool in_range(int value, int low, int high)
{
    return value >= low && value <= high;
}

// Every setting within what its kind allows.
void check_settings()
{
    for (const option_entry *o = option_table; o->letter; o++) {
        int v = *o->setting;
        bool ok = true;
        if (o->kind & OPT_BOOL)
            ok = in_range(v, 0, 1);
        else if (o->kind & OPT_THREEWAY)
            ok = in_range(v, 0, 2);
        else if (o->kind & OPT_NUMBER)
            ok = v == o->default_value || v >= 0;
        if (!ok)
            fuzz_fail("setting out of range", std::string(1, o->letter) + "=" + std::to_string(v));
    }
    if (opt_x < 1)
        fuzz_fail("tab stop below 1", std::to_string(opt_x));
}

volatile size_t text_sink;

// Texts that start-up keeps must be readable to their ends.
void touch(const char *s)
{
    if (s)
        text_sink = text_sink + strlen(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A tags file for -t to look in, and the file it names.
    static bool scratch_files = [] {
        fuzz_scratch_file("tags", true, "main\ttext\t/^int main(void)$/\n"
                                        "loop text ?^for (;;)?\n"
                                        "bare\ttext\n");
        fuzz_scratch_file("text", true, "int main(void)\n");
        return true;
    }();
    (void)scratch_files;
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }

    snprintf(mivo_entry, sizeof mivo_entry, "MIVO=%s", pieces[0].c_str());
    putenv(mivo_entry);
    // Names that could reach outside the scratch directory, or standard
    // input (which can be viewed only once per process), stay at home.
    std::vector<std::string> args = {"quorel"};
    for (size_t i = 1; i < pieces.size(); i++) {
        const std::string &p = pieces[i];
        bool option = (p[0] == '-' || p[0] == '+') && p.size() > 1;
        args.push_back(!option && (p == "-" || p.find('/') != std::string::npos) ? "text" : p);
    }
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    settings_reset();
    tag_file_name = nullptr;
    int errors_before = error_count;
    start_args a = {static_cast<int>(args.size()), argv.data()};
    int status = 0;
    fuzz_in_scratch([&] { status = fuzz_guarded(start, &a, true); });

    if (status == 1) {
        if (error_count == errors_before)
            fuzz_fail("option error without a message");
    } else if (status != FUZZ_MODE_CHOICE) {
        fuzz_fail("start-up ended with an unexpected status", std::to_string(status));
    } else {
        check_settings();
        if (file_list + file_count != argv.data() + args.size() || file_count < 0)
            fuzz_fail("file list does not end with the arguments");
    }
    touch(pending_command_text);
    touch(first_command);
    touch(log_file_name);
    touch(tag_file_name);
    for (int which : {PROMPT_SHORT, PROMPT_MEDIUM, PROMPT_LONG, PROMPT_STATUS})
        touch(prompt_template(which));
    unsetenv("MIVO");
    return 0;
}
