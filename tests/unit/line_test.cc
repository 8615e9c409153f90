#include "viewer/display/line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <iterator>
#include <string>
#include <vector>

#include "viewer/control/program.h"
#include "viewer/display/chop.h"
#include "viewer/display/view.h"
#include "viewer/display/sgr.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"
#include "tests/unit/fixtures.h"

namespace {

void set_widths(int w)
{
    underline_on_width = underline_off_width = w;
    bold_on_width = bold_off_width = w;
}

void set_defaults()
{
    settings_reset();
    screen_reset(24, 80);
}

// The assembled line made readable: markers as [u u] [b b], caret cells as
// {^X}, hex cells as <XX>, escape bytes as \e, the edges of a chopped line
// as (<) (>), other characters in UTF-8 (a locale-independent way to write
// them in the tables).
std::string render(const display_row &row)
{
    std::string out;
    for (const line_cell *c = row.cells; *c; c++) {
        int code = static_cast<int>(*c & CELL_CHAR);
        switch (*c) {
        case MARK_UNDERLINE_ON: out += "[u"; continue;
        case MARK_UNDERLINE_OFF: out += "u]"; continue;
        case MARK_BOLD_ON: out += "[b"; continue;
        case MARK_BOLD_OFF: out += "b]"; continue;
        default: break;
        }
        char bytes[8];
        switch (*c & CELL_KIND) {
        case CELL_CARET: out += std::string("{^") + static_cast<char>(code) + "}"; break;
        case CELL_HEX: snprintf(bytes, sizeof bytes, "<%02X>", code & 0xFF); out += bytes; break;
        case CELL_EDGE: out += std::string("(") + static_cast<char>(code) + ")"; break;
        case CELL_ESCAPE:
            for (int i = 0; i < escape_length(*c); i++) {
                char b = row.escapes[escape_offset(*c) + i];
                out += b == 0x1B ? std::string("\\e") : std::string(1, b);
            }
            break;
        default:
            if (text_utf8 || (*c & CELL_KIND) == CELL_HEXCODE) {
                int n = text_encode(code, bytes);
                out.append(bytes, static_cast<size_t>(n));
            } else {
                out += static_cast<char>(code);
            }
        }
    }
    return out;
}

// Feed bytes to a fresh line; the finished text, and how many were taken.
std::string assemble(const std::string &bytes, size_t *taken = nullptr)
{
    line_start();
    size_t i = 0;
    while (i < bytes.size() && line_add(static_cast<signed char>(bytes[i])) == 0)
        i++;
    display_row row;
    line_add(0, &row);
    if (taken)
        *taken = i;
    return render(row);
}

// Columns the bytes take: what is left of an 80-column row for plain 'x's.
int columns(const std::string &bytes)
{
    size_t taken;
    std::string probe = bytes + std::string(200, 'x');
    assemble(probe, &taken);
    return 80 - static_cast<int>(taken - bytes.size());
}

struct assembly_case {
    const char *name;
    int u, widths;
    std::string in, out;
    int cols;  // 0: not checked
};

TEST(LineAdd, AssemblesOverstrikeAndCaretForms)
{
    const assembly_case cases[] = {
        {"bold", 0, 0, "A\bA", "[bAb]", 1},
        {"underscore first", 0, 0, "_\bA", "[uAu]", 1},
        {"underscore last", 0, 0, "A\b_", "[uAu]", 1},
        {"bold underscore", 0, 0, "_\b_", "[b_b]", 1},
        {"later wins", 0, 0, "A\bB", "B", 1},
        {"bold word", 0, 0, "W\bWO\bOR\bRD\bD", "[bWORDb]", 4},
        {"underlined word", 0, 0, "_\ba_\bb_\bc", "[uabcu]", 3},
        {"bold then underline", 0, 0, "A\bA_\bB", "[bAb][uBu]", 2},
        {"underline then bold", 0, 0, "_\bAB\bB", "[uAu][bBb]", 2},
        {"underline continues", 0, 0, "_\bAB\b_", "[uABu]", 2},
        {"bold then plain", 0, 0, "A\bAx", "[bAb]x", 2},
        {"underline then plain", 0, 0, "_\bAxy", "[uAu]xy", 3},
        {"underline then a tab", 0, 0, "_\bA\tb", "[uAu]\tb", 9},
        {"bold then a tab", 0, 0, "A\bA\tb", "[bAb]\tb", 9},
        {"triple strike", 0, 0, "A\bA\bA", "[bAb]", 1},
        {"bold, later wins", 0, 0, "A\bAB\bC", "[bACb]", 2},
        {"cookie underline", 0, 1, " _\bA b", "[uAu]b", 4},
        {"cookie bold", 0, 1, " A\bA b", "[bAb]b", 4},
        {"-u 1 overstrike", 1, 0, "a\bb", "a\bb", 1},
        {"-u 2 caret", 2, 0, "a\bb", "a{^H}b", 4},
        {"DEL", 0, 0, "\x7f", "{^?}", 2},
        {"underlined DEL", 0, 0, "\x7f\b_", "[u{^?}u]", 2},
        {"escape", 0, 0, "\x1b", "{^[}", 2},
        {"carriage return", 0, 0, "\r", "{^M}", 2},
        {"form feed", 0, 0, "\f", "{^L}", 2},
        {"8-bit control byte", 0, 0, "\x9b", "<9B>", 4},
        {"backspace at the margin", 0, 0, "\b\bA", "A", 1},
        {"text byte 0xBF", 0, 0, "\xBF", "\xBF", 1},
        {"text 0xC8 at -u 2", 2, 0, "\xC8", "\xC8", 1},
        {"0xBF struck twice", 0, 0, "\xBF\b\xBF", "[b\xBF" "b]", 1},
        {"0xBF over a DEL", 0, 0, "\x7f\b\xBF", "\xBF", 1},
        {"DEL over a letter", 0, 0, "a\b\x7f", "{^?}", 2},
        {"input marker bytes are text", 0, 0, "\x15x\x16", "{^U}x{^V}", 5},
    };
    for (const auto &c : cases) {
        set_defaults();
        opt_u = c.u;
        set_widths(c.widths);
        EXPECT_EQ(assemble(c.in), c.out) << c.name;
        if (c.cols) {
            EXPECT_EQ(columns(c.in), c.cols) << c.name;
        }
    }
}

struct margin_case {
    const char *name;
    int cols, u, x;
    std::string in;
    size_t taken;
};

TEST(LineAdd, RefusesWhatDoesNotFit)
{
    const std::string a75(75, 'a'), a79(79, 'a'), a80(80, 'a');
    const margin_case cases[] = {
        {"80 on 80", 80, 0, 8, a80, 80},
        {"81 on 80", 80, 0, 8, a80 + "b", 80},
        {"tab to 80 on 80", 80, 0, 8, a75 + "\tz", 76},
        {"tab at 75 on 79", 79, 0, 8, a75 + "\t", 75},
        {"tab stop 4", 80, 0, 4, a75 + "\tz", 77},
        {"DEL in last column", 80, 0, 8, a79 + "\x7f", 79},
        {"caret BS in last column", 80, 2, 8, a79 + "\b", 79},
        {"bold in the last column", 10, 0, 8, "1234567890\b0", 12},
        {"underline in the last column", 10, 0, 8, "123456789_\bB", 12},
        {"bold one column earlier", 10, 0, 8, "123456789\b9", 11},
        {"tab stop beyond the margin", 80, 0, 100, "\tz", 1},
        {"tab stop 0 taken as 1", 80, 0, 0, a79 + "\tz", 80},
    };
    for (const auto &c : cases) {
        set_defaults();
        screen_cols = c.cols;
        opt_u = c.u;
        opt_x = c.x;
        size_t taken;
        assemble(c.in, &taken);
        EXPECT_EQ(taken, c.taken) << c.name;
    }
}

TEST(LineAdd, RefusedByteLeavesLineUntouched)
{
    set_defaults();
    screen_cols = 10;
    EXPECT_EQ(assemble("1234567890\b0x"), "123456789[b0b]");
    // The recogniser has moved on when the tab turns out not to fit: the
    // run must still close after its last letter.
    opt_x = 16;
    size_t taken;
    EXPECT_EQ(assemble("x_\bA\t", &taken), "x[uAu]");
    EXPECT_EQ(taken, 4u);
    EXPECT_EQ(assemble("xA\bAy\t", &taken), "x[bAb]y");
    EXPECT_EQ(taken, 5u);
}

TEST(LineAdd, StopsAtFullMark)
{
    // Backspaces take no room with -u 1, so only the cell count limits them.
    set_defaults();
    opt_u = 1;
    size_t taken;
    std::string struck;
    for (int i = 0; i < 550; i++)
        struck += "a\b";
    assemble(struck, &taken);
    EXPECT_EQ(taken, static_cast<size_t>(LINE_FULL_MARK + 1));
}

TEST(LineCaret, ControlBytesAndDelAreShownInCaretForm)
{
    EXPECT_EQ(text_is_control(0x7F), 1);
    EXPECT_EQ(text_is_control(0x1B), 1);
    EXPECT_EQ(text_is_control(0x1F), 1);
    EXPECT_EQ(text_is_control(' '), 0);
    EXPECT_EQ(text_is_control('A'), 0);
    EXPECT_EQ(text_control_letter(0x7F), '?');
    EXPECT_EQ(text_control_letter(0x01), 'A');
    EXPECT_EQ(text_control_letter(0x08), 'H');
}

// Readers over a temporary file in file mode.
class LineReader : public ::testing::Test {
protected:
    void SetUp() override { set_defaults(); }
    void TearDown() override
    {
        input_close();
        set_defaults();
    }
    static void open_text(const std::string &text) { ASSERT_GE(input_from_text(text, 10), 0); }
};

struct step {
    file_pos from, to;
    std::string text;  // unchecked when to is NO_POSITION
};

void walk(const char *name, file_pos (*reader)(file_pos, display_row *),
          const std::vector<step> &steps)
{
    for (const auto &s : steps) {
        display_row row;
        EXPECT_EQ(reader(s.from, &row), s.to) << name << " from " << s.from;
        if (s.to != NO_POSITION) {
            EXPECT_EQ(render(row), s.text) << name << " from " << s.from;
        }
    }
}

struct reader_case {
    const char *name;
    std::string text;
    int squeeze;
    std::vector<step> forward, backward;
    int wrap = 0, plain = 0, r = 0, x = 8;
};

TEST_F(LineReader, DisplayLines)
{
    const std::string a80(80, 'a');
    const reader_case cases[] = {
        {"80 columns", a80 + "\n", 0, {{0, 81, a80}, {81, NO_POSITION, ""}}, {{81, 0, a80}}},
        {"81 columns", a80 + "b\n", 0, {{0, 80, a80}, {80, 82, "b"}},
         {{82, 80, "b"}, {80, 0, a80}, {0, NO_POSITION, ""}}},
        {"no final newline", "ab\ncd", 0, {{3, 5, "cd"}, {5, NO_POSITION, ""}},
         {{5, 3, "cd"}, {3, 0, "ab"}}},
        {"high bytes", "\xBF\x7f\xE9\n", 0, {{0, 4, "\xBF{^?}\xE9"}}, {{4, 0, "\xBF{^?}\xE9"}}},
        {"blank lines kept", "A\n\n\n\nB\n", 0, {{2, 3, ""}, {3, 4, ""}},
         {{5, 4, ""}, {4, 3, ""}}},
        // The row of a squeezed run stands at its last line.
        {"blank lines squeezed", "A\n\n\n\nB\n", 1,
         {{0, 4, "A"}, {2, 5, ""}, {4, 5, ""}, {5, 7, "B"}},
         {{7, 5, "B"}, {5, 4, ""}, {4, 0, "A"}}},
        {"squeezed input ends blank", "X\n\n", 1, {{2, 3, ""}, {3, NO_POSITION, ""}},
         {{3, 2, ""}, {2, 0, "X"}}},
        {"squeezed blank start", "\n\n\nX\n", 1, {{0, 3, ""}}, {{3, 0, ""}, {0, NO_POSITION, ""}}},
        {"CRLF line ends", "ab\r\ncd\r\n", 0, {{0, 4, "ab"}, {4, 8, "cd"}}, {{8, 4, "cd"}, {4, 0, "ab"}}},
        {"lone carriage returns", "a\rb\r", 0, {{0, 4, "a{^M}b{^M}"}}, {{4, 0, "a{^M}b{^M}"}}},
        {"squeezed CRLF blank lines", "A\r\n\r\n\r\nB\r\n", 1,
         {{0, 5, "A"}, {5, 7, ""}, {7, 10, "B"}}, {{10, 7, "B"}, {7, 5, ""}, {5, 0, "A"}}},
        {"overstrike over a row", "_\bA_\bB\n", 0, {{0, 7, "[uABu]"}}, {{7, 0, "[uABu]"}}},
        // Folding between words: after the last space, a space that does not
        // fit hangs past the edge, a word longer than a row is cut at it.
        {"word wrap", std::string(70, 'a') + " bbbbbbbbbbbb cc\n", 0,
         {{0, 71, std::string(70, 'a') + " "}, {71, 87, "bbbbbbbbbbbb cc"}},
         {{87, 71, "bbbbbbbbbbbb cc"}, {71, 0, std::string(70, 'a') + " "}}, 1},
        {"word wrap, hanging space", a80 + " bb\n", 0, {{0, 81, a80}, {81, 84, "bb"}},
         {{84, 81, "bb"}, {81, 0, a80}}, 1},
        {"word wrap, space before the line end", a80 + " \n", 0, {{0, 80, a80}, {80, 82, " "}},
         {{82, 80, " "}, {80, 0, a80}}, 1},
        {"word wrap, long word", "a " + std::string(90, 'b') + "\n", 0,
         {{0, 2, "a "}, {2, 82, std::string(80, 'b')}, {82, 93, std::string(10, 'b')}},
         {{93, 82, std::string(10, 'b')}, {82, 2, std::string(80, 'b')}, {2, 0, "a "}}, 1},
        {"word wrap keeps the colour", "\x1b[31m" + std::string(70, 'a') + " " +
         std::string(20, 'b') + "\n", 0,
         {{0, 76, "\\e[31m" + std::string(70, 'a') + " "},
          {76, 97, "\\e[0;31m" + std::string(20, 'b')}},
         {{97, 76, "\\e[0;31m" + std::string(20, 'b')}}, 1},
        // A tab beyond the margin is refused: the row gives back its last
        // word, and the row that follows is read on past where it ends.
        {"word wrap, tab refused", "ab cd\tef\n", 0,
         {{0, 3, "ab "}, {3, 5, "cd"}, {5, 6, "\t"}, {6, 9, "ef"}},
         {{5, 3, "cd"}, {6, 5, "\t"}, {9, 6, "ef"}, {3, 0, "ab "}}, 1, 0, 0, 1000},
        // Plain text: colour and links taken out, -r or not.
        {"plain", "\x1b[1;31mred\x1b[m \x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\.\n", 0,
         {{0, 42, "red link."}}, {{42, 0, "red link."}}, 0, 1},
        {"plain over caret form", "\x1b[31mred\x1b[m\n", 0, {{0, 12, "red"}},
         {{12, 0, "red"}}, 0, 1, 1},
    };
    for (const auto &c : cases) {
        open_text(c.text);
        opt_s = c.squeeze;
        opt_wrap = c.wrap;
        opt_plain = c.plain;
        opt_r = c.r;
        opt_x = c.x;
        walk(c.name, line_next, c.forward);
        walk(c.name, line_prev, c.backward);
        input_close();
    }
}

TEST_F(LineReader, TabStopBeyondMarginStillMovesOn)
{
    // Every tab fills a row of its own; the readers must not stick on it.
    open_text("\tA\n");
    opt_x = 100;
    walk("tab", line_next, {{0, 1, "\t"}, {1, 3, "A"}});
    walk("tab", line_prev, {{3, 1, "A"}, {1, 0, "\t"}});
}

// Row starts found going forward from 0, and then going backward from the
// end: both directions must cut the input at the same places.
void expect_same_rows_both_ways(const std::string &name)
{
    std::vector<file_pos> forward;
    std::vector<std::string> texts;
    for (file_pos p = 0; p != NO_POSITION;) {
        display_row row;
        file_pos next = line_next(p, &row);
        if (next == NO_POSITION)
            break;
        forward.push_back(p);
        texts.push_back(render(row));
        p = next;
    }
    file_pos end = line_next(forward.back());
    for (size_t i = forward.size(); i-- > 0;) {
        display_row row;
        end = line_prev(end, &row);
        ASSERT_EQ(end, forward[i]) << name << ", row " << i;
        EXPECT_EQ(render(row), texts[i]) << name << ", row " << i;
    }
}

TEST_F(LineReader, Utf8CharactersAcrossBlocksAndRows)
{
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    text_utf8 = 1;
    // A three-byte character split by the block boundary at 1024.
    std::string text = std::string(1022, 'a') + "\n\xe6\x97\xa5x\n";
    open_text(text);
    walk("split", line_next, {{1023, 1028, "\xe6\x97\xa5x"}});
    walk("split", line_prev, {{1028, 1023, "\xe6\x97\xa5x"}});
    input_close();

    std::string mixed;
    for (int i = 0; i < 40; i++)
        mixed += std::string(i % 7, 'x') + "日本\xc3\xa9\xcc\x81\xff" + std::string(i % 3, '\t') +
                 "\xc3\xa9\b\xc3\xa9_\b語\x1b[31m" + (i % 5 ? "\r\n" : "\n\n\n");
    // A long line: most of its rows are passed over as plain ones.
    mixed += std::string(3000, 'x') + "\t" + std::string(2500, 'y') + "\xc3\xa9" +
             std::string(900, 'z') + "\n";
    for (int cols : {5, 11, 19, 80}) {
        for (int settings = 0; settings < 8; settings++) {
            set_defaults();
            screen_cols = cols;
            opt_s = settings & 1;
            opt_u = (settings >> 1) % 3;
            opt_r = settings >> 2;
            open_text(mixed);
            expect_same_rows_both_ways(std::to_string(cols) + " columns, settings " +
                                       std::to_string(settings));
            input_close();
        }
    }
    text_utf8 = 0;
    setlocale(LC_CTYPE, "C");
}

TEST_F(LineReader, WordWrapCutsTheSameRowsBothWays)
{
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    text_utf8 = 1;
    std::string prose;
    for (int i = 0; i < 60; i++)
        prose += std::string(i % 13 + 1, static_cast<char>('a' + i % 26)) +
                 (i % 4 ? " " : "  ") + (i % 7 ? "" : "日本\t") + (i % 9 ? "" : "B\bB ") +
                 (i % 5 ? "" : "\x1b[32m") + (i % 11 ? "" : "\n");
    prose += std::string(300, 'w') + " end\n";
    for (int cols : {5, 12, 19, 80}) {
        for (int settings = 0; settings < 4; settings++) {
            set_defaults();
            screen_cols = cols;
            opt_wrap = 1;
            opt_u = settings & 1;
            opt_plain = settings >> 1;
            open_text(prose);
            expect_same_rows_both_ways(std::to_string(cols) + " columns, settings " +
                                       std::to_string(settings));
            input_close();
        }
    }
    text_utf8 = 0;
    setlocale(LC_CTYPE, "C");
}

// A row that nobody will see is only looked for where it ends (the bytes
// of a plain line are scanned, not built into cells): it must end where the
// built row does, at every width and setting that moves a row's end.
TEST_F(LineReader, RowsFoundWithoutCellsEndWhereBuiltOnesDo)
{
    std::string text;
    for (int n : {0, 1, 11, 12, 13, 19, 20, 21, 40, 41, 0, 0, 7, 1012, 1013, 1014})
        text += std::string(static_cast<size_t>(n), 'p') + "\n";
    text += "a\tb\nc\r\nd\x01e\nf_\bg\n\x1b[31mred\x1b[m\n" + std::string(45, 'q') +
            " r\nno newline";
    for (int cols : {20, 40, 1100}) {
        for (int settings = 0; settings < 8; settings++) {
            set_defaults();
            screen_cols = cols;
            opt_s = settings & 1;
            opt_wrap = (settings >> 1) & 1;
            opt_N = settings >> 2;      // the number column narrows the rows
            open_text(text);
            int rows = 0;
            for (file_pos p = 0; p != NO_POSITION; rows++) {
                display_row row;
                file_pos found = line_next(p);
                file_pos built = line_next(p, &row);
                ASSERT_EQ(found, built) << cols << " columns, settings " << settings
                                        << ", row at " << p;
                p = built;
            }
            EXPECT_GT(rows, 20);
            input_close();
        }
    }
}

TEST_F(LineReader, PendingSignalGivesNoLine)
{
    open_text("one\ntwo\n");
    pending_signals = PENDING_INTERRUPT;
    EXPECT_EQ(line_next(0), NO_POSITION);
    EXPECT_EQ(line_prev(8), NO_POSITION);
}

TEST_F(LineReader, RawLinesAreCutAt1023Bytes)
{
    std::string line;
    for (int i = 0; i < 2500; i++)
        line += static_cast<char>('a' + i % 26);
    open_text(line + "\nend");
    const file_pos ends[] = {1023, 2046, 2501};
    file_pos pos = 0;
    for (file_pos end : ends) {
        file_pos next = raw_line_next(pos);
        EXPECT_EQ(next, end);
        EXPECT_EQ(std::string(raw_line_text), line.substr(pos, std::min<file_pos>(end, 2500) - pos));
        pos = next;
    }
    EXPECT_EQ(raw_line_prev(2501), 1477);
    EXPECT_EQ(std::string(raw_line_text), line.substr(1477));
    // No final newline: the last byte belongs to the line.
    EXPECT_EQ(raw_line_prev(2504), 2501);
    EXPECT_EQ(std::string(raw_line_text), "end");
    // Inside a long line: the bytes just before pos.
    EXPECT_EQ(raw_line_prev(2046), 1023);
    EXPECT_EQ(std::string(raw_line_text), line.substr(1023, 1023));
}

TEST_F(LineReader, RawLinesAcrossBlocks)
{
    // Lines of lengths around the cut and across block boundaries, with and
    // without a final newline.
    const int lengths[] = {0, 5, 1023, 1024, 1022, 2047, 1, 0, 3000, 7};
    for (int final_newline = 0; final_newline < 2; final_newline++) {
        std::string text;
        std::vector<std::pair<file_pos, std::string>> expected;
        for (size_t i = 0; i < std::size(lengths); i++) {
            std::string line(lengths[i], static_cast<char>('A' + i));
            if (!line.empty())
                line.back() = 'z';
            file_pos at = static_cast<file_pos>(text.size());
            size_t cut = 0;
            do {
                expected.push_back({at + static_cast<file_pos>(cut), line.substr(cut, 1023)});
                cut += 1023;
            } while (cut < line.size());
            text += line;
            if (final_newline || i + 1 < std::size(lengths))
                text += '\n';
        }
        open_text(text);
        file_pos pos = 0;
        for (const auto &[start, content] : expected) {
            ASSERT_EQ(pos, start) << "final newline " << final_newline;
            pos = raw_line_next(pos);
            EXPECT_EQ(std::string(raw_line_text), content) << "at " << start;
        }
        EXPECT_EQ(pos, static_cast<file_pos>(text.size()));
        EXPECT_EQ(raw_line_next(pos), NO_POSITION);
        input_close();
    }
}

TEST_F(LineReader, RawLinePrevAtTheStart)
{
    open_text("ab\ncd\n");
    EXPECT_EQ(raw_line_prev(6), 3);
    EXPECT_EQ(std::string(raw_line_text), "cd");
    EXPECT_EQ(raw_line_prev(3), 0);
    EXPECT_EQ(std::string(raw_line_text), "ab");
    EXPECT_EQ(raw_line_prev(0), NO_POSITION);
}

// With -S a line is one row, cut to the view from its first column: text hidden
// on either side is marked, and what an edge cuts is shown as spaces.
TEST_F(LineReader, ChoppedLinesCutToTheView)
{
    const struct {
        const char *name;
        std::string text;
        int cols, column;
        std::string row;
    } cases[] = {
        {"right edge", "0123456789abc\nzz", 10, 0, "012345678(>)"},
        {"fits exactly", "0123456789\nzz", 10, 0, "0123456789"},
        {"scrolled", "0123456789abc\nzz", 10, 5, "(<)6789abc"},
        {"all of it left", "abc\nzz", 10, 5, "(<)"},
        {"blank line", "\nzz", 10, 5, ""},
        {"tab cut", "\tX\nzz", 10, 3, "(<)    X"},
        {"wide cut left", "a日本語b\nzz", 10, 2, "(<)本語b"},
        {"wide cut right", "ab日c\nzz", 4, 0, "ab (>)"},
        {"colour before", "\x1b[31mred\x1b[m tail\nzz", 10, 2, "\\e[0;31m(<)\\e[m tail"},
        {"bold run before", "A\bAB\bBC\nzz", 10, 1, "[b(<)b]C"},
        {"erase dropped", "a\x1b[Kb\nzz", 10, 0, "ab"},
    };
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    text_utf8 = 1;
    opt_S = 1;
    for (const auto &c : cases) {
        open_text(c.text);
        screen_cols = c.cols;
        view_set_column(c.column);
        file_pos next = static_cast<file_pos>(c.text.find('\n')) + 1;
        display_row row;
        EXPECT_EQ(line_next(0, &row), next) << c.name;
        EXPECT_EQ(render(row), c.row) << c.name;
        // The same row stepping back, and from inside the line.
        EXPECT_EQ(line_prev(next, &row), 0) << c.name;
        EXPECT_EQ(render(row), c.row) << c.name;
        EXPECT_EQ(line_prev(next + 1), 0) << c.name;
        input_close();
    }
    view_set_column(0);
    text_utf8 = 0;
    setlocale(LC_CTYPE, "C");
}

TEST(LineColour, StateLeftBySequences)
{
    const struct {
        std::string sequences, state;
    } cases[] = {
        {"\x1b[1;31m", "\x1b[0;1;31m"},
        {"\x1b[1m\x1b[22;4m", "\x1b[0;4m"},
        {"\x1b[4:3m\x1b[4:0m\x1b[7m", "\x1b[0;7m"},
        {"\x1b[38;5;200;48:2::1:2:3m", "\x1b[0;38;5;200;48;2;1;2;3m"},
        {"\x1b[92;41m\x1b[39m", "\x1b[0;41m"},
        {"\x1b[95;1m\x1b[m", ""},
        {"\x1b[9;53;58;5;3m\x1b[29m", "\x1b[0;53;58;5;3m"},
    };
    for (const auto &c : cases) {
        sgr_state state = {};
        for (size_t at = 0; at < c.sequences.size();) {
            size_t end = c.sequences.find('m', at) + 1;
            sgr_apply(state, c.sequences.data() + at, static_cast<int>(end - at));
            at = end;
        }
        char text[SGR_TEXT_MAX];
        std::string written = sgr_plain(state) ? "" : std::string(text, sgr_write(state, text));
        EXPECT_EQ(written, c.state) << c.sequences.substr(1);
    }
}

} // namespace
