#include "viewer/control/prompt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "viewer/control/program.h"
#include "viewer/display/screen.h"
#include "viewer/input/buffer.h"
#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"
#include "tests/unit/fixtures.h"

namespace {

char name_notes[] = "notes";
char name_other[] = "other";
char name_stdin[] = "-";
char *two_files[] = {name_notes, name_other, nullptr};
char *stdin_only[] = {name_stdin, nullptr};

constexpr const char *HELP_TEMPLATE =
    "HELP -- ?eEND -- Press g to see it again:Press RETURN for more., or q when done ";

std::string text_of(const char *result)
{
    return result == nullptr ? std::string("<none>") : std::string(result);
}

// Two files in the list, the first shown: "notes", 1000 bytes of 100-byte
// lines, top row at 0, the row after the bottom at 400, line numbers on.
class Prompt : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        screen_reset(5, 80);
        std::string line(99, 'n');
        line += '\n';
        std::string text;
        for (int i = 0; i < 10; i++)
            text += line;
        ASSERT_GE(input_from_text(text, 4), 0);
        open_file(two_files, 2, name_notes);
        place_rows();
        file_just_opened = 1;
    }

    void TearDown() override
    {
        if (pipe_writer >= 0)
            close(pipe_writer);
        input_close();
    }

    // The current input is the first of the list, newly opened.
    static void open_file(char **list, int count, char *name)
    {
        file_list = list;
        file_count = count;
        file_index = file_tried = 0;
        current_file_name = name;
        linenum_reset();
        eof_count = 0;
    }

    // Rows 0-3 hold the lines at 0, 100, 200, 300; the next screen begins at 400.
    static void place_rows()
    {
        screen_pos_clear();
        for (file_pos p = 0; p <= 400; p += 100)
            screen_pos_insert_bottom(p);
    }

    // Standard input alone, nothing read yet: its length is unknown.
    void use_standard_input()
    {
        input_close();
        pipe_writer = input_from_pipe("", false, 4);
        ASSERT_GE(pipe_writer, 0);
        open_file(stdin_only, 1, name_stdin);
        place_rows();
    }

    int pipe_writer = -1;
};

TEST_F(Prompt, ShortPromptShowsTheFileOnlyOnTheFirstPrompt)
{
    opt_m = 0;
    EXPECT_EQ(text_of(prompt_text()), "notes (file 1 of 2)");
    EXPECT_EQ(file_just_opened, 0);
    EXPECT_EQ(prompt_text(), nullptr);
}

TEST_F(Prompt, MediumPrompt)
{
    opt_m = 1;
    EXPECT_EQ(text_of(prompt_text()), "notes (file 1 of 2) 40%");
    EXPECT_EQ(text_of(prompt_text()), "40%");
}

TEST_F(Prompt, MediumPromptOnStandardInputOfUnknownLength)
{
    use_standard_input();
    opt_m = 1;
    file_just_opened = 0;
    EXPECT_EQ(text_of(prompt_text()), "byte 400");
}

TEST_F(Prompt, LongPrompt)
{
    opt_m = 2;
    EXPECT_EQ(text_of(prompt_text()), "notes (file 1 of 2) line 1 40%");
    EXPECT_EQ(text_of(prompt_text()), "notes line 1 40%");
    opt_n = 0;
    EXPECT_EQ(text_of(prompt_text()), "notes byte 400/1000 40%");
}

TEST_F(Prompt, StatusTextIgnoresTheNewFileFlag)
{
    EXPECT_EQ(text_of(status_text()), "notes (file 1 of 2) line 1 byte 400/1000 40%");
    EXPECT_EQ(file_just_opened, 0);
    EXPECT_EQ(text_of(status_text()), "notes (file 1 of 2) line 1 byte 400/1000 40%");
}

TEST_F(Prompt, StatusTextOnStandardInputOfUnknownLength)
{
    use_standard_input();
    EXPECT_EQ(text_of(status_text()), "line 1 byte 400");
}

TEST_F(Prompt, EndOfFileNamesTheNextFile)
{
    file_just_opened = 0;
    eof_count = 1;
    for (int style : {0, 1}) {
        opt_m = style;
        EXPECT_EQ(text_of(prompt_text()), "(END) - Next: other") << "style " << style;
    }
    file_index = file_tried = 1;
    current_file_name = name_other;
    for (int style : {0, 1}) {
        opt_m = style;
        EXPECT_EQ(text_of(prompt_text()), "(END)") << "style " << style;
    }
}

TEST_F(Prompt, HelpTemplateReplacesTheMediumPrompt)
{
    prompt_replace(PROMPT_MEDIUM, HELP_TEMPLATE);
    opt_m = 1;
    EXPECT_EQ(text_of(prompt_text()), "HELP -- Press RETURN for more, or q when done ");
    eof_count = 1;
    EXPECT_EQ(text_of(prompt_text()), "HELP -- END -- Press g to see it again, or q when done ");
    opt_m = 0;
    EXPECT_EQ(text_of(prompt_text()), "(END) - Next: other");
}

TEST_F(Prompt, ReplacedStatusTemplate)
{
    prompt_replace(PROMPT_STATUS, "at %bt of %s");
    EXPECT_EQ(text_of(status_text()), "at 0 of 1000");
    prompt_replace(PROMPT_STATUS, "?x:.");
    EXPECT_EQ(status_text(), nullptr);
}

TEST_F(Prompt, TemplateLanguage)
{
    struct {
        const char *tmpl;
        const char *expected;  // nullptr: nothing expanded
    } cases[] = {
        {"a%%b", "ab"},
        {"100\\%", "100%"},
        {"x%", "x"},
        {"x?", "x"},
        {"x\\", "x"},
        {"%z%", nullptr},
        {"?zX:Y:Z.", "Y"},
        {"?mX:Y:Z.", "XZ"},
        {"?z?mA:B.:C.", "C"},
        {"?z\\:no:yes.", "yes"},
        {"?a:empty.", "empty"},
        {"x?ayes:no.", "xyes"},
        {"a.b", "ab"},
        {"%bt %bm %bb %bB %bq", "0 200 300 400 0"},
        {"%pt %pm %pB", "0 20 40"},
        {"%i/%m %s", "1/2 1000"},
        {"%f %x", "notes other"},
        {"name   %t.", "name"},
        {"?bBb:n.?pBp:n.?sS:n.?lbL:n.", "bpSL"},
        {"?e.?f%f.", "notes"},
    };
    for (const auto &c : cases) {
        const char *result = prompt_format(c.tmpl, 0);
        if (c.expected == nullptr)
            EXPECT_EQ(result, nullptr) << c.tmpl;
        else
            EXPECT_EQ(text_of(result), c.expected) << c.tmpl;
    }
}

TEST_F(Prompt, EmptyTemplateLeavesTheNewFileFlag)
{
    EXPECT_EQ(text_of(prompt_format("", 0)), "");
    EXPECT_EQ(file_just_opened, 1);
}

TEST_F(Prompt, UnknownValuesShowAsQuestionMarks)
{
    use_standard_input();
    EXPECT_EQ(text_of(prompt_format("%s %pt %x", 0)), "? ? ?");
    opt_n = 0;
    EXPECT_EQ(text_of(prompt_format("%lt", 0)), "?");
    // No row and no length: a row past the end of an input of unknown length.
    screen_pos_clear();
    EXPECT_EQ(text_of(prompt_format("%bt", 0)), "?");
}

TEST_F(Prompt, WidthKeepsTheEndOfTheText)
{
    EXPECT_EQ(text_of(prompt_format("abcdef", 3)), "def");
    EXPECT_EQ(text_of(prompt_format("abcdef", 6)), "abcdef");
    EXPECT_EQ(text_of(prompt_format("abcdef", 7)), "abcdef");

    static char long_name[] = "a/rather/long/directory/name/notes";
    current_file_name = long_name;
    opt_m = 2;
    file_just_opened = 0;
    screen_cols = 22;
    standout_on_width = 1;
    standout_off_width = 1;
    // 22 - 1 - 1 - 2 columns are left for the text.
    EXPECT_EQ(text_of(prompt_text()), "e/notes line 1 40%");
    // None are left: no prompt (the command loop shows ':').
    screen_cols = 4;
    EXPECT_EQ(text_of(prompt_text()), "<none>");
}

TEST_F(Prompt, LongExpansionsStayInTheBuffer)
{
    std::string huge(1000, 'x');
    const char *result = prompt_format(huge.c_str(), 0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result), std::string(PROMPT_BUFFER_SIZE - 1, 'x'));

    // A file name stops at 249 bytes; what follows fills the rest.
    std::string name(1000, 'n');
    current_file_name = name.data();
    result = status_text();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(strlen(result), static_cast<size_t>(PROMPT_BUFFER_SIZE - 1));
    EXPECT_EQ(std::string(result, 250), std::string(249, 'n') + " ");
    EXPECT_EQ(text_of(prompt_format("%f%f", 0)), std::string(249, 'n'));

    std::string next(1000, 'o');
    file_list[1] = next.data();
    result = prompt_format("ab%x", 0);
    file_list[1] = name_other;
    EXPECT_EQ(text_of(result), "ab" + std::string(247, 'o'));
}

TEST_F(Prompt, PercentOfHugePositionsDoesNotOverflow)
{
    file_pos big = INT64_MAX / 2;
    screen_pos_clear();
    screen_pos_insert_bottom(big);
    // big * 100 / 1000 computed exactly, though big * 100 does not fit.
    EXPECT_EQ(text_of(prompt_format("%pB", 0)), "461168601842738790");
}

} // namespace
