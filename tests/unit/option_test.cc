#include "viewer/options/option.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "viewer/control/program.h"
#include "viewer/control/start.h"
#include "viewer/control/prompt.h"
#include "viewer/display/columns.h"
#include "viewer/input/log.h"
#include "viewer/process/signals.h"
#include "tests/unit/fixtures.h"

namespace {

struct setting_case {
    std::vector<std::string> strings;   // parsed in order, as MIVO and arguments
    int *setting;
    int expected;
};

class Option : public ::testing::Test {
protected:
    void SetUp() override { settings_reset(); }

    void TearDown() override { log_file_name = nullptr; }

    // The parser changes its string in place and keeps pointers into it, so
    // each string lives as long as the fixture.
    char *parse(const std::string &s)
    {
        char *text = keep(s);
        option_parse_string(text, apply_text_option);
        return text;
    }

    // A string kept as long as the fixture, as an argument is.
    char *keep(const std::string &s)
    {
        std::vector<char> &kept = strings.emplace_back(s.begin(), s.end());
        kept.push_back('\0');
        return kept.data();
    }

    // Parse the strings in order, starting from the defaults; they come back
    // quoted, for failure messages.
    std::string parse_fresh(const std::vector<std::string> &texts)
    {
        SetUp();
        std::string trace;
        for (const std::string &s : texts) {
            trace += "'" + s + "' ";
            parse(s);
        }
        return trace;
    }

    void check(const std::vector<setting_case> &cases)
    {
        for (const setting_case &c : cases) {
            std::string trace = parse_fresh(c.strings);
            EXPECT_EQ(*c.setting, c.expected) << trace;
        }
    }

    std::list<std::vector<char>> strings;
};

TEST_F(Option, Defaults)
{
    struct {
        int *setting;
        int value;
    } defaults[] = {
        {&opt_a, 0}, {&opt_b, 10}, {&opt_B, 1}, {&opt_c, 0}, {&opt_d, 0}, {&opt_e, 0},
        {&opt_h, -1}, {&opt_i, 0}, {&opt_m, 0}, {&opt_n, 1}, {&opt_q, 0}, {&opt_s, 0},
        {&opt_u, 0}, {&opt_w, 1}, {&opt_x, 8}, {&opt_z, -1},
    };
    parse("-aBcdeh2imnqsuwx3b4z5");
    option_defaults();
    for (const auto &d : defaults)
        EXPECT_EQ(*d.setting, d.value);
    EXPECT_EQ(first_command, nullptr);
    EXPECT_EQ(pending_command_text, nullptr);
}

TEST_F(Option, FlagLetters)
{
    check({
        // Each sets the opposite of the default, so repeating does not cancel.
        {{"-i", "-i"}, &opt_i, 1},
        {{"-ii"}, &opt_i, 1},
        {{"i"}, &opt_i, 1},
        {{"-n"}, &opt_n, 0},
        {{"-n", "-n"}, &opt_n, 0},
        {{"-B"}, &opt_B, 0},
        {{"-w"}, &opt_w, 0},
        {{"-d"}, &opt_d, 1},
        {{"-s"}, &opt_s, 1},
        // Three-valued: the lower-case letter gives 1, the upper-case one 2.
        {{"-e"}, &opt_e, 1},
        {{"-E"}, &opt_e, 2},
        {{"-e", "-e"}, &opt_e, 1},
        {{"-E", "-e"}, &opt_e, 1},
        {{"-m"}, &opt_m, 1},
        {{"-M"}, &opt_m, 2},
        {{"-Q"}, &opt_q, 2},
        {{"-U"}, &opt_u, 2},
        {{"-C"}, &opt_c, 2},
        {{"-A"}, &opt_a, 2},
        // Several letters after one '-', or separated by blanks.
        {{"-ie"}, &opt_e, 1},
        {{"-i e\tM"}, &opt_m, 2},
    });
}

TEST_F(Option, ResetToDefault)
{
    check({
        {{"-i", "-+i"}, &opt_i, 0},
        {{"-ie", "-+ie"}, &opt_i, 0},
        {{"-ie", "-+ie"}, &opt_e, 0},
        {{"-i", "-+i-e"}, &opt_i, 0},
        {{"-+i-e"}, &opt_e, 1},
        {{"-E", "-+E"}, &opt_e, 0},
        {{"-w", "-+w"}, &opt_w, 1},
        {{"-n", "-+n"}, &opt_n, 1},
        // Blanks do not end the reset group; only a '-' does.
        {{"-E", "-+i e"}, &opt_e, 0},
        // Every string starts out of reset mode.
        {{"-+i", "e"}, &opt_e, 1},
        // Numbers are not affected by it.
        {{"-+x4"}, &opt_x, 4},
    });
}

TEST_F(Option, Numbers)
{
    check({
        {{"-15"}, &opt_z, 15},
        {{"-15i"}, &opt_i, 1},
        {{"-x4e"}, &opt_x, 4},
        {{"-x4e"}, &opt_e, 1},
        {{"-b3"}, &opt_b, 3},
        {{"-b0"}, &opt_b, 0},
        {{"-h0"}, &opt_h, 0},
        {{"-z007"}, &opt_z, 7},
        {{"-x12", "-x3"}, &opt_x, 3},
        // A tab stop of 0 would be divided by.
        {{"-x0"}, &opt_x, 1},
        // Too large for an int: the largest int, not a wrapped value.
        {{"-z99999999999"}, &opt_z, INT_MAX},
        {{"-b99999999999"}, &opt_b, INT_MAX},
        {{"-2147483647"}, &opt_z, INT_MAX},
        {{"-2147483648"}, &opt_z, INT_MAX},
        {{"-h99999999999999999999999"}, &opt_h, INT_MAX},
    });
}

TEST_F(Option, PromptTexts)
{
    struct {
        std::vector<std::string> strings;
        int which;
        const char *text;
        int unchanged;      // a template that must keep its built-in text
    } cases[] = {
        {{"-Pmfoo"}, PROMPT_MEDIUM, "foo", PROMPT_SHORT},
        {{"-PMlong"}, PROMPT_LONG, "long", PROMPT_MEDIUM},
        {{"-P=st"}, PROMPT_STATUS, "st", PROMPT_SHORT},
        {{"-m", "-Pfoo"}, PROMPT_MEDIUM, "foo", PROMPT_SHORT},
        {{"-Pfoo", "-m"}, PROMPT_SHORT, "foo", PROMPT_MEDIUM},
        {{"-M", "-Pbar"}, PROMPT_LONG, "bar", PROMPT_SHORT},
        {{"-Pmfoo$i"}, PROMPT_MEDIUM, "foo", PROMPT_SHORT},
        {{"-P$"}, PROMPT_SHORT, "", PROMPT_MEDIUM},
        {{"-Pm"}, PROMPT_MEDIUM, "", PROMPT_SHORT},
        {{"-Pa b"}, PROMPT_SHORT, "a b", PROMPT_LONG},
    };
    for (const auto &c : cases) {
        SetUp();
        std::string builtin = prompt_template(c.unchanged);
        std::string trace = parse_fresh(c.strings);
        EXPECT_STREQ(prompt_template(c.which), c.text) << trace;
        EXPECT_EQ(prompt_template(c.unchanged), builtin) << trace;
    }
    SetUp();
    char *text = parse("-Pmfoo$i");
    EXPECT_EQ(opt_i, 1);
    // The '$' ending the text became a NUL.
    EXPECT_EQ(std::memcmp(text, "-Pmfoo\0i", 9), 0);
}

TEST_F(Option, StartCommands)
{
    char *text = parse("+/pattern");
    EXPECT_EQ(start_command_given, 1);
    EXPECT_EQ(pending_command_text, text + 1);
    EXPECT_STREQ(pending_command_text, "/pattern");
    EXPECT_EQ(first_command, nullptr);

    SetUp();
    text = parse("++G");
    EXPECT_EQ(start_command_given, 1);
    EXPECT_STREQ(pending_command_text, "G");
    ASSERT_NE(first_command, nullptr);
    EXPECT_STREQ(first_command, "G");
    // The every-file command is a copy of its own.
    EXPECT_NE(first_command, pending_command_text);

    SetUp();
    parse("+/a b$-i");
    EXPECT_STREQ(pending_command_text, "/a b");
    EXPECT_EQ(opt_i, 1);

    SetUp();
    parse("-i+$e");
    EXPECT_EQ(start_command_given, 1);
    EXPECT_STREQ(pending_command_text, "");
    EXPECT_EQ(opt_e, 1);

    // A later command replaces the earlier one.
    SetUp();
    parse("++5g");
    parse("++G");
    EXPECT_STREQ(first_command, "G");
    EXPECT_STREQ(pending_command_text, "G");
}

TEST_F(Option, LogFileNames)
{
    parse("-l$");
    ASSERT_NE(log_file_name, nullptr);
    EXPECT_STREQ(log_file_name, "");
    EXPECT_EQ(log_overwrite, 0);

    SetUp();
    char *text = parse("-lkeep.log$i");
    EXPECT_EQ(log_file_name, text + 2);
    EXPECT_STREQ(log_file_name, "keep.log");
    EXPECT_EQ(log_overwrite, 0);
    EXPECT_EQ(opt_i, 1);

    SetUp();
    parse("-Lnew.log");
    EXPECT_STREQ(log_file_name, "new.log");
    EXPECT_EQ(log_overwrite, 1);
    // -l afterwards names another file but leaves overwriting on.
    parse("-lother");
    EXPECT_STREQ(log_file_name, "other");
    EXPECT_EQ(log_overwrite, 1);
}

TEST_F(Option, NullStringChangesNothing)
{
    option_parse_string(nullptr, apply_text_option);
    EXPECT_EQ(opt_i, 0);
    EXPECT_EQ(opt_z, -1);
    EXPECT_EQ(start_command_given, 0);
}

TEST_F(Option, IsToggle)
{
    struct {
        const char *letters;
        int answer;
    } cases[] = {
        {"PtlLbhxz", 0},
        {"BdinswAECMQUSyZ+-0?", 1},
        {"acemqu", 2},
    };
    for (const auto &c : cases)
        for (const char *l = c.letters; *l; l++)
            EXPECT_EQ(option_is_toggle(*l), c.answer) << "letter " << *l;
}

// Each error ends the program with status 1 and one line on standard error.
TEST_F(Option, ErrorsEndTheProgram)
{
    struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"-y", "\"-y\": invalid flag\n"},
        {"-Z", "\"-Z\": invalid flag\n"},
        {"-iy", "\"-y\": invalid flag\n"},
        {"-b", "number is required after -b\n"},
        {"-x-3", "number is required after -x\n"},
        {"-z 5", "number is required after -z\n"},
        {"-P", "string is required after -P\n"},
        {"-t", "string is required after -t\n"},
        {"-l", "string is required after -l\n"},
        {"-L", "string is required after -L\n"},
        {"-i+", "string is required after -+\n"},
        {"++", "string is required after -+\n"},
    };
    for (const auto &c : cases) {
        std::string text = c.text;
        EXPECT_EXIT(option_parse_string(text.data(), apply_text_option),
                    ::testing::ExitedWithCode(1),
                    ::testing::Eq(std::string(c.message)))
            << "'" << c.text << "'";
    }
}

// Long names on the command line and in MIVO: whole, cut to a beginning no
// other name shares, with a value after '=' or in the next argument (or
// word), their "no-" forms, and "--" before a file named like an option.
TEST_F(Option, LongNames)
{
    struct long_case {
        std::string mivo;
        std::vector<std::string> args;
        int *setting;
        int expected;
    };
    const long_case cases[] = {
        {"", {"--line-numbers"}, &opt_N, 1},
        {"", {"--line"}, &opt_N, 1},
        {"", {"-N", "--no-line-numbers"}, &opt_N, 0},
        {"", {"-N", "--no-line-n"}, &opt_N, 0},
        {"", {"--skip-line-count"}, &opt_n, 0},
        {"", {"-n", "--no-skip-line-count"}, &opt_n, 1},
        {"", {"--chop"}, &opt_S, 1},
        {"", {"--tab-stops=3"}, &opt_x, 3},
        {"", {"--tab-stops", "5"}, &opt_x, 5},
        {"", {"--tab=0"}, &opt_x, 1},
        {"", {"--quit-at-end=shown"}, &opt_e, 2},
        {"", {"--quit-at-end", "1"}, &opt_e, 1},
        {"", {"-E", "--quit-at-end=never"}, &opt_e, 0},
        {"", {"--bell=never"}, &opt_q, 2},
        {"", {"--colour-sequences=caret"}, &opt_r, 1},
        {"--ignore-case --tab-stops 4", {}, &opt_x, 4},
        {"--ignore-case --tab-stops 4", {}, &opt_i, 1},
        {"-i --no-ignore-case", {}, &opt_i, 0},
        {"--page-lines=7 -S", {}, &opt_z, 7},
        {"--page-lines=7 -S", {}, &opt_S, 1},
        {"--tab-stops=4", {"--tab-stops=6"}, &opt_x, 6},
        {"--prompt=mfoo$i", {}, &opt_i, 1},
        // A value that may be left out is never the next argument.
        {"", {"--columns"}, &opt_S, 0},
        {"--columns -S", {"--columns", "-S"}, &opt_S, 1},
    };
    for (const long_case &c : cases) {
        SetUp();
        std::string trace = "MIVO '" + c.mivo + "'";
        parse(c.mivo);
        std::vector<std::string> args = {"quorel"};
        for (const std::string &a : c.args) {
            args.push_back(a);
            trace += " '" + a + "'";
        }
        args.push_back("file");
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(keep(a));
        int first = option_parse_arguments(static_cast<int>(argv.size()), argv.data(),
                                           apply_text_option, true);
        EXPECT_EQ(*c.setting, c.expected) << trace;
        EXPECT_EQ(first, static_cast<int>(argv.size()) - 1) << trace;
    }
    columns_set("off");

    // "--" ends the options; a value of its own is taken whole.
    SetUp();
    std::vector<char *> argv = {keep("quorel"), keep("--chop"), keep("--prompt"),
                                keep("a$b"),    keep("--"),     keep("-x")};
    EXPECT_EQ(option_parse_arguments(6, argv.data(), apply_text_option, true), 5);
    EXPECT_EQ(opt_S, 1);
    EXPECT_STREQ(prompt_template(PROMPT_SHORT), "a$b");

    // Checking applies nothing and changes no byte of the string.
    SetUp();
    std::string mivo = "-Pmfoo$i --every-file-command=G";
    option_check_string(mivo.c_str());
    EXPECT_EQ(mivo, "-Pmfoo$i --every-file-command=G");
    EXPECT_EQ(opt_i, 0);
    parse(mivo);
    EXPECT_STREQ(prompt_template(PROMPT_MEDIUM), "foo");
    ASSERT_NE(first_command, nullptr);
    EXPECT_STREQ(first_command, "G");
}

// A long name that is no option, or the beginning of several, or misses its
// value, ends the program with status 2, in MIVO as on the command line,
// and before anything is applied.
TEST_F(Option, LongNameErrors)
{
    struct {
        const char *mivo;
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {"", {"--bogus"}, "quorel: unknown option --bogus (see quorel --help)\n"},
        {"", {"--bogus=3"}, "quorel: unknown option --bogus (see quorel --help)\n"},
        {"-i --bogus", {}, "quorel: unknown option --bogus (see quorel --help)\n"},
        {"", {"--line-numbers-x"}, "quorel: unknown option --line-numbers-x (see quorel --help)\n"},
        {"", {"--no-tab-stops"}, "quorel: unknown option --no-tab-stops (see quorel --help)\n"},
        {"", {"--se"},
         "quorel: ambiguous option --se: --search-start, --search-on-return, --section "
         "(see quorel --help)\n"},
        {"--sk", {},
         "quorel: ambiguous option --sk: --skip-terminal-warnings, --skip-line-count "
         "(see quorel --help)\n"},
        {"", {"--tab-stops"}, "quorel: option --tab-stops needs a value: --tab-stops=N\n"},
        {"", {"--tab-stops=8i"}, "quorel: option --tab-stops takes a number, not \"8i\"\n"},
        {"", {"--bell", "loud"},
         "quorel: option --bell takes always, errors, never (or 0, 1, 2), not \"loud\"\n"},
        {"", {"--ignore-case=yes"}, "quorel: option --ignore-case takes no value\n"},
        {"--help", {}, "quorel: --help is taken only on the command line\n"},
        {"", {"-i --vers"}, "quorel: --version is taken only as an argument of its own\n"},
    };
    for (const auto &c : cases) {
        std::string mivo = c.mivo;
        std::vector<std::string> args = {"quorel"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        EXPECT_EXIT(
            {
                option_check_string(mivo.c_str());
                option_parse_arguments(static_cast<int>(argv.size()), argv.data(), nullptr,
                                       false);
            },
            ::testing::ExitedWithCode(2), ::testing::Eq(std::string(c.message)))
            << "MIVO '" << c.mivo << "' " << (c.args.empty() ? "" : c.args[0]);
    }
}

// The manual and the help file name every long option of the table, so
// that neither falls behind it.
TEST_F(Option, DocumentsNameEveryLongOption)
{
    auto read = [](const char *name) {
        return read_bytes(std::string(QUOREL_SOURCE_DIR) + "/doc/" + name);
    };
    std::string manual = read("quorel.1");
    std::string help = read("quorel.help");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(help.empty());
    for (const option_entry *o = option_table; o->long_name; o++) {
        EXPECT_NE(manual.find(std::string("Fl -") + o->long_name), std::string::npos)
            << o->long_name << " in quorel.1";
        EXPECT_NE(help.find(std::string("--") + o->long_name), std::string::npos)
            << o->long_name << " in quorel.help";
    }
}

} // namespace
