// Option strings as start-up applies them: the input is MIVO and then the
// command-line arguments, separated by NUL bytes. The program's own start
// runs up to the point where it picks copying or interactive mode; an
// option error ends it there with status 1 (a letter) or 2 (a long name),
// caught by the exit hook. A run that gets through is run again with every
// long option that has a letter written as that letter: the settings must
// come out the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    for (const option_entry *o = option_table; o->long_name; o++) {
        if (!o->setting)
            continue;
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

// The letter form of an argument that is a long option with a letter and a
// value in the argument itself, or the argument as it is.
std::string letter_form(const std::string &a)
{
    if (a.rfind("--", 0) != 0 || a.size() < 3)
        return a;
    size_t name_end = a.find_first_of("= \t$", 2);
    std::string name =
        a.substr(2, name_end == std::string::npos ? std::string::npos : name_end - 2);
    option_long_match m = option_lookup_long(name.c_str(), name.size());
    const option_entry *o = m.entry;
    if (!o || !o->letter || (o->kind & OPT_TEXT) ||
        (name_end != std::string::npos && a[name_end] != '='))
        return a;
    std::string value = name_end == std::string::npos ? "" : a.substr(name_end + 1);
    std::string letter(1, o->letter);
    if (o->kind & OPT_BOOL)
        return name_end == std::string::npos ? (m.negated ? "-+" : "-") + letter : a;
    if (o->kind & OPT_NUMBER)
        return !value.empty() && value.find_first_not_of("0123456789") == std::string::npos
                   ? "-" + letter + value
                   : a;
    // Every three-valued option's default is 0.
    int v = option_choice_value(o, value.c_str(), value.size());
    if (v < 0)
        return a;
    std::string upper(1, static_cast<char>(letter[0] - 'a' + 'A'));
    return v == 0 ? "-+" + letter : v == 1 ? "-" + letter : "-" + upper;
}

std::vector<int> settings_now()
{
    std::vector<int> values;
    for (const option_entry *o = option_table; o->long_name; o++)
        if (o->setting)
            values.push_back(*o->setting);
    return values;
}

// Start-up on args to the mode choice: its status.
int start_up(std::vector<std::string> &args)
{
    std::vector<char *> argv = fuzz_argv(args);
    settings_reset();
    tag_file_name = nullptr;
    int status = 0;
    fuzz_in_scratch([&] {
        status = fuzz_guarded([&] { quorel_main(static_cast<int>(args.size()), argv.data()); },
                              true);
    });
    return status;
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
    const std::string mivo = args[0];
    snprintf(mivo_entry, sizeof mivo_entry, "MIVO=%s", mivo.c_str());
    putenv(mivo_entry);
    args[0] = "quorel";
    // Names that could reach outside the scratch directory, or standard
    // input (which can be viewed only once per process), stay at home.
    for (std::string &p : args) {
        bool option = (p[0] == '-' || p[0] == '+') && p.size() > 1;
        if (!option && (p == "-" || p.find('/') != std::string::npos))
            p = "text";
    }
    // The letter forms of the arguments, for a second run: from the bytes
    // before the first changed them, and alive as long as args, since the
    // settings point into them.
    std::vector<std::string> letters = args;
    std::vector<char *> argv = fuzz_argv(args);

    settings_reset();
    tag_file_name = nullptr;
    int errors_before = error_count;
    int status = 0;
    fuzz_in_scratch([&] {
        status = fuzz_guarded([&] { quorel_main(static_cast<int>(args.size()), argv.data()); },
                              true);
    });

    // --help, --version or --list-options among the leading arguments
    // answers and ends at once; past an argument that is another option's
    // value they may answer too.
    bool long_option = false, maybe_action = false;
    bool leading = true;
    for (size_t i = 1; i < args.size() && args[i] != "--"; i++) {
        const std::string &a = args[i];
        if ((a[0] != '-' && a[0] != '+') || a.size() < 2)
            leading = false;
        if (a.rfind("--", 0) == 0 && a.find_first_of("= \t$", 2) == std::string::npos) {
            option_long_match m = option_lookup_long(a.c_str() + 2, a.size() - 2);
            bool action = m.entry && (m.entry->kind & OPT_ACTION);
            long_option = long_option || (action && leading);
            maybe_action = maybe_action || action;
        }
    }

    if (long_option || (maybe_action && status == 0)) {
        if (status != 0)
            fuzz_fail("--help or --version ended with a status", std::to_string(status));
    } else if (status == 1 || status == 2) {
        if (error_count == errors_before)
            fuzz_fail("option error without a message");
    } else if (status != FUZZ_MODE_CHOICE) {
        fuzz_fail("start-up ended with an unexpected status", std::to_string(status));
    } else {
        check_settings();
        if (file_list + file_count != argv.data() + args.size() || file_count < 0)
            fuzz_fail("file list does not end with the arguments");
        // The same with letters: the same settings. Only where each long
        // option holds its value, as a following argument may be a file.
        std::vector<int> by_name = settings_now();
        bool changed = false;
        for (size_t i = 1; i < letters.size() && letters[i] != "--"; i++) {
            std::string form = letter_form(letters[i]);
            changed = changed || form != letters[i];
            letters[i] = form;
        }
        if (changed) {
            // The run changed MIVO's '$' into NULs.
            snprintf(mivo_entry, sizeof mivo_entry, "MIVO=%s", mivo.c_str());
            if (start_up(letters) != FUZZ_MODE_CHOICE)
                fuzz_fail("letters refused what long names were taken for");
            else if (std::vector<int> by_letter = settings_now(); by_letter != by_name)
                for (size_t i = 0, k = 0; option_table[i].long_name; i++)
                    if (option_table[i].setting && by_letter[k] != by_name[k++])
                        fuzz_fail("a long name and its letter set different values",
                                  option_table[i].long_name);
        }
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
