#include "viewer/display/columns.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "viewer/display/line.h"
#include "viewer/terminal/text.h"
#include "tests/unit/fixtures.h"

namespace {

// The fields as "a|b|c", a quoted one in braces, a delimiter that is not
// where `after` says as '!'.
std::string split(const std::string &line, int delimiter, int max = 64)
{
    column_field fields[64];
    int n = columns_split(line.data(), static_cast<int>(line.size()), delimiter, true, fields, max);
    std::string out;
    for (int k = 0; k < n; k++) {
        const column_field &f = fields[k];
        std::string text = line.substr(static_cast<size_t>(f.begin), static_cast<size_t>(f.end - f.begin));
        out += (k ? "|" : "") + (f.quoted ? "{" + text + "}" : text);
        if (f.after >= 0 && delimiter != COLUMNS_SPACES &&
            static_cast<unsigned char>(line[static_cast<size_t>(f.after)]) != delimiter)
            out += "!";
    }
    return out;
}

TEST(ColumnsSplit, FieldsAndQuotingAtTheEdges)
{
    const struct {
        const char *name;
        std::string line;
        int delimiter;
        std::string fields;
        int max = 64;
    } cases[] = {
        {"plain", "a,b,c", ',', "a|b|c"},
        {"empty fields", ",a,,", ',', "|a||"},
        {"empty line", "", ',', ""},
        {"quoted delimiter", "\"a,b\",c", ',', "{a,b}|c"},
        {"doubled quotes stay doubled in the bytes", "\"say \"\"hi\"\"\",x", ',', "{say \"\"hi\"\"}|x"},
        {"quoted last field", "x,\"y\"", ',', "x|{y}"},
        {"empty quoted field", "\"\",x", ',', "{}|x"},
        {"unclosed quote ends with the line", "a,\"b,c", ',', "a|{b,c}"},
        {"text after the closing quote", "\"a\"b,c", ',', "\"a\"b|c"},
        {"quote inside a field", "a\"b,c", ',', "a\"b|c"},
        {"tabs", "a\tb c\t", '\t', "a|b c|"},
        {"a colour sequence's ';' is no delimiter", "\x1b[1;31mr\x1b[m;x", ';',
         "\x1b[1;31mr\x1b[m|x"},
        {"runs of spaces", "  ab  c d   e  ", COLUMNS_SPACES, "ab|c d|e"},
        {"one space splits nothing", "a b", COLUMNS_SPACES, "a b"},
        {"no quoting between spaces", "\"a  b\"", COLUMNS_SPACES, "\"a|b\""},
        {"the last field takes the rest", "a,b,c,d", ',', "a|b|c,d", 3},
    };
    for (const auto &c : cases)
        EXPECT_EQ(split(c.line, c.delimiter, c.max), c.fields) << c.name;
}

TEST(ColumnsDetect, TheMostConsistentDelimiter)
{
    const struct {
        const char *name;
        std::string text;
        int delimiter;
    } cases[] = {
        {"commas", "a,b,c\n1,2,3\n4,\"5,6\",7\n", ','},
        {"tabs over commas inside fields", "a\tb,c\n1\t2,3,4\n5\t6\n", '\t'},
        {"semicolons", "x;y\r\n1,5;2\r\n3;4,5\r\n", ';'},
        {"bars", "| a | b |\n| 1 | 2 |\n", '|'},
        {"a table of spaces", "USER   PID  CMD\nroot     1  init, the first\nme      42  sh\n",
         COLUMNS_SPACES},
        {"prose", "Nothing here splits\ninto fields\n", COLUMNS_SPACES},
    };
    for (const auto &c : cases)
        EXPECT_EQ(columns_detect(c.text.data(), static_cast<int>(c.text.size())), c.delimiter)
            << c.name;
}

TEST(ColumnsNumeric, NumbersAreRightAligned)
{
    for (const char *yes : {"42", "-3.5", "+1,234.50", "1e5", "2.5E-3", "12%", " 7 ", ".5"})
        EXPECT_TRUE(columns_numeric(yes, static_cast<int>(strlen(yes)))) << yes;
    for (const char *no : {"", "-", "abc", "1.2.3", "0x1F", ",5", "12 34", "e5"})
        EXPECT_FALSE(columns_numeric(no, static_cast<int>(strlen(no)))) << no;
}

class ColumnsRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_reset();
        screen_reset(24, 80);
        ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
        text_utf8 = 1;
    }
    void TearDown() override
    {
        columns_set("off");
        input_close();
        settings_reset();
        setlocale(LC_CTYPE, "C");
        text_utf8 = 0;
    }
};

// A row's text in UTF-8, and the input position of each of its cells.
std::string text_of(const display_row &row, std::vector<file_pos> *positions)
{
    std::string out;
    for (int i = 0; i < row.count; i++) {
        char bytes[4];
        out.append(bytes, static_cast<size_t>(text_encode(static_cast<int>(row.cells[i] & CELL_CHAR), bytes)));
        positions->push_back(row.positions[i]);
    }
    return out;
}

TEST_F(ColumnsRows, AlignedCellsMapBackToTheInput)
{
    // Quoted commas, a doubled quote, a field two columns a character wide,
    // numbers right-aligned.
    std::string text = "a,\"x,y\"\n\xe6\x9d\xb1\xe4\xba\xac,1\n\"q\"\"\",22\n5,z\n";
    ASSERT_GE(input_from_text(text, 10), 0);
    ASSERT_TRUE(columns_set(","));
    display_row row;
    std::vector<file_pos> at;
    ASSERT_EQ(line_next(0, &row), 8);
    EXPECT_EQ(text_of(row, &at), "a    \xe2\x94\x82 x,y");
    // 'a', the padding, the separator at the comma, the field's bytes.
    EXPECT_EQ(at, (std::vector<file_pos>{0, -1, -1, -1, 1, 1, 1, 3, 4, 5}));
    at.clear();
    ASSERT_EQ(line_next(8, &row), 17);
    EXPECT_EQ(text_of(row, &at), "\xe6\x9d\xb1\xe4\xba\xac \xe2\x94\x82   1");
    EXPECT_EQ(at, (std::vector<file_pos>{8, 11, 14, 14, 14, -1, -1, 15}));
    at.clear();
    // The doubled quote shows once, from the first of its two bytes.
    ASSERT_EQ(line_prev(26, &row), 17);
    EXPECT_EQ(text_of(row, &at), "q\"   \xe2\x94\x82  22");
    EXPECT_EQ(at[1], 19);
    at.clear();
    // Padding shows no input, the first cell of a row too.
    ASSERT_EQ(line_next(26, &row), 30);
    EXPECT_EQ(text_of(row, &at), "   5 \xe2\x94\x82 z");
    EXPECT_EQ(at, (std::vector<file_pos>{-1, -1, -1, 26, 27, 27, 27, 28}));
}

} // namespace
