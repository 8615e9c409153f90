#include "viewer/control/edit.h"

#include "viewer/control/history.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"
#include "tests/unit/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char ERASE = 0x7f;
constexpr char KILL = 0x15;
constexpr char WERASE = 0x17;

// "<T>" in a key string stands for a pause after which no byte came.
std::vector<int> keys_of(const std::string &s)
{
    std::vector<int> keys;
    for (size_t i = 0; i < s.size(); i++) {
        if (s.compare(i, 3, "<T>") == 0) {
            keys.push_back(EDIT_TIMEOUT);
            i += 2;
        } else {
            keys.push_back(static_cast<unsigned char>(s[i]));
        }
    }
    return keys;
}

// What the bottom line shows after the output: the text and the cursor's
// column. Motion to the bottom line and clearing are the only sequences.
struct bottom_line {
    std::string text;
    int column = 0;
    int bells = 0;
};

bottom_line replay(const std::string &out)
{
    bottom_line line;
    for (size_t i = 0; i < out.size(); i++) {
        char c = out[i];
        if (c == '\r') {
            line.column = 0;
        } else if (c == '\b') {
            line.column = std::max(0, line.column - 1);
        } else if (c == '\a') {
            line.bells++;
        } else if (c == '\x1b' && i + 1 < out.size() && out[i + 1] == '[') {
            size_t end = out.find_first_of("ABCDHJKfm", i + 2);
            if (end == std::string::npos)
                break;
            if (out[end] == 'H' || out[end] == 'f')
                line.column = 0;
            else if (out[end] == 'K')
                line.text.resize(static_cast<size_t>(line.column));
            i = end;
        } else {
            if (line.text.size() <= static_cast<size_t>(line.column))
                line.text.resize(static_cast<size_t>(line.column) + 1, ' ');
            line.text[static_cast<size_t>(line.column++)] = c;
        }
    }
    while (!line.text.empty() && line.text.back() == ' ')
        line.text.pop_back();
    return line;
}

class EditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen_reset(24, 80);
        erase_key = ERASE;
        kill_key = KILL;
        word_erase_key = WERASE;
        saved = env_save("QUOREL_HISTORY");
        setenv("QUOREL_HISTORY", "-", 1);
        history_load();
    }

    void TearDown() override
    {
        env_restore(saved);
        history_load();
    }

    // Start a text and type the keys; the bottom line afterwards and the
    // status of the last key.
    bottom_line type(const char *prompt, const std::string &keys, int *status = nullptr,
                     int kind = HISTORY_NONE)
    {
        int last = EDIT_GOING;
        std::string out = captured(1, [&] {
            edit_start(prompt, kind, "!");
            for (int k : keys_of(keys))
                last = edit_key(k);
            out_flush();
        });
        if (status)
            *status = last;
        return replay(out);
    }

    saved_env saved;
};

TEST_F(EditTest, KeysEditTheText)
{
    struct edit_case {
        const char *what;
        std::string keys;
        std::string text;
        int cursor;
        int status;
        int bells;
    };
    const std::string left = "\x1b[D", right = "\x1b[C";
    const std::vector<edit_case> cases = {
        {"typing", "abc", "abc", 3, EDIT_CHANGED, 0},
        {"insert in the middle", "abc" + left + left + "X", "aXbc", 2, EDIT_CHANGED, 0},
        {"application-mode left", "abc\x1bOD\x1bODX", "aXbc", 2, EDIT_CHANGED, 0},
        {"left with ctrl held", "abc\x1b[1;5DX", "abXc", 3, EDIT_CHANGED, 0},
        {"right stops at the end", "ab" + left + right + right + "X", "abX", 3, EDIT_CHANGED, 0},
        {"left stops at the start", "ab" + left + left + left + "X", "Xab", 1, EDIT_CHANGED, 0},
        {"home", "abc\x1b[HX", "Xabc", 1, EDIT_CHANGED, 0},
        {"home forms", "a\x1bOHb\x1b[1~c\x1b[7~d", "dcba", 1, EDIT_CHANGED, 0},
        {"end forms", "ab\x1b[H\x1b[FX\x1b[HY\x1bOFZ\x1b[H\x1b[4~1\x1b[H\x1b[8~2", "YabXZ12", 7,
         EDIT_CHANGED, 0},
        {"delete under the cursor", "abc\x1b[H\x1b[3~", "bc", 0, EDIT_CHANGED, 0},
        {"delete at the end", "abc\x1b[3~", "abc", 3, EDIT_GOING, 0},
        {"erase before the cursor", "abc" + left + ERASE, "ac", 1, EDIT_CHANGED, 0},
        {"erase at the start", "abc\x1b[H" + std::string(1, ERASE), "abc", 0, EDIT_GOING, 1},
        {"erase on empty text cancels", std::string("a") + ERASE + ERASE, "", 0, EDIT_CANCEL, 0},
        {"kill", "abc" + left + KILL, "", 0, EDIT_CHANGED, 0},
        {"word erase", std::string("ls foo  bar ") + WERASE, "ls foo  ", 8, EDIT_CHANGED, 0},
        {"word erase mid-text", "ab cd" + left + WERASE, "ab d", 3, EDIT_CHANGED, 0},
        {"ESC alone cancels", "abc\x1b<T>", "abc", 3, EDIT_CANCEL, 0},
        {"unknown sequence", "ab\x1b[200~c", "abc", 3, EDIT_CHANGED, 1},
        {"private parameters", "ab\x1b[?1;2Ac", "abc", 3, EDIT_CHANGED, 1},
        {"ESC and a letter", "ab\x1bxc", "abc", 3, EDIT_CHANGED, 1},
        {"intermediate bytes", "ab\x1b(Bc", "abc", 3, EDIT_CHANGED, 1},
        {"console function key", "ab\x1b[[Ac", "abc", 3, EDIT_CHANGED, 1},
        {"sequence cut by a pause", "ab\x1b[1<T>c", "abc", 3, EDIT_CHANGED, 1},
        {"sequence cut by RETURN", "ab\x1b[1\rc", "abc", 3, EDIT_CHANGED, 1},
        {"second ESC starts over", "ab\x1b\x1b[DX", "aXb", 2, EDIT_CHANGED, 0},
        {"ESC in a sequence", "ab\x1b\x1b<T>", "ab", 2, EDIT_CANCEL, 0},
        {"control bytes are text", "a\x01\t", "a\x01\t", 3, EDIT_CHANGED, 0},
        {"NUL is refused", "ab" + std::string(1, '\0') + "c", "abc", 3, EDIT_CHANGED, 1},
        {"RETURN", "ab\r", "ab", 2, EDIT_ENTER, 0},
        {"newline", "\n", "", 0, EDIT_ENTER, 0},
        {"full text", std::string(EDIT_TEXT_MAX + 2, 'x'), std::string(EDIT_TEXT_MAX, 'x'),
         EDIT_TEXT_MAX, EDIT_GOING, 2},
    };
    for (const edit_case &c : cases) {
        int status;
        bottom_line line = type("/", c.keys, &status);
        EXPECT_EQ(edit_text(), c.text) << c.what;
        EXPECT_EQ(edit_length(), static_cast<int>(c.text.size())) << c.what;
        EXPECT_EQ(edit_cursor(), c.cursor) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(line.bells, c.bells) << c.what;
    }
}

TEST_F(EditTest, CharactersTypedAsSeveralBytesGoInWhole)
{
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    text_utf8 = 1;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\xc3\xa9\xe2\x82\xac\x1b[D" + std::string(1, ERASE), "a\xe2\x82\xac"},
        {"\xe2\x82\xac\x1b[DX", "X\xe2\x82\xac"},
        {"\xc3X", "\xc3X"},
        {"\xe2\x82\r", "\xe2\x82"},
    };
    for (const auto &[keys, text] : cases) {
        type("/", keys);
        EXPECT_EQ(edit_text(), text) << keys;
    }
    text_utf8 = 0;
    setlocale(LC_CTYPE, "C");
}

TEST_F(EditTest, LongTextScrollsSidewaysKeepingTheCursorVisible)
{
    screen_reset(24, 20);   // 18 columns for text after "/" and the cursor
    std::string abc = "abcdefghijklmnopqrstuvwxyz";
    struct draw_case {
        const char *what;
        std::string keys;
        std::string shown;
        int column;
    };
    const std::vector<draw_case> cases = {
        {"short text", "abc", "/abc", 4},
        {"tail with the cursor at the end", abc, "/jklmnopqrstuvwxyz", 18},
        {"home shows the head", abc + "\x1b[H", "/abcdefghijklmnopqr", 1},
        {"back to the end", abc + "\x1b[H\x1b[F", "/jklmnopqrstuvwxyz", 18},
        {"caret form inside", abc.substr(0, 10) + "\x01" + abc.substr(10, 8), "/defghij^Aklmnopqr",
         18},
        {"caret form at the left edge", "a\x01" + abc.substr(1, 16), "/bcdefghijklmnopq", 17},
        {"caret form at the right edge", abc.substr(0, 17) + "\x01\x1b[H", "/abcdefghijklmnopq",
         1},
        {"erasing brings text back from the left", abc + std::string(5, ERASE),
         "/efghijklmnopqrstu", 18},
    };
    for (const draw_case &c : cases) {
        bottom_line line = type("/", c.keys, nullptr);
        EXPECT_EQ(line.text, c.shown) << c.what;
        EXPECT_EQ(line.column, c.column) << c.what;
    }
}

TEST_F(EditTest, UpAndDownRecallEntriesOfTheSameKind)
{
    for (const char *s : {"old", "!negated", "new"})
        history_add(HISTORY_SEARCH, s, static_cast<int>(strlen(s)));
    history_add(HISTORY_SHELL, "ls", 2);
    const std::string up = "\x1b[A", down = "\x1bOB";
    struct recall_case {
        std::string keys;
        std::string text;
        std::string modifiers;
        int bells;
    };
    const std::vector<recall_case> cases = {
        {"dra" + up, "new", "", 0},
        {up + up, "negated", "!", 0},
        {up + up + up + up, "old", "", 1},
        {"dra" + up + up + down + down, "dra", "", 0},
        {"dra" + down, "dra", "", 1},
        {up + "\x1b[D" + ERASE + "\r", "nw", "", 0},
    };
    for (const recall_case &c : cases) {
        bottom_line line = type("/", c.keys, nullptr, HISTORY_SEARCH);
        EXPECT_EQ(edit_text(), c.text) << c.keys;
        EXPECT_EQ(edit_modifiers(), c.modifiers) << c.keys;
        EXPECT_EQ(line.text, c.modifiers + "/" + c.text) << c.keys;
        EXPECT_EQ(line.bells, c.bells) << c.keys;
    }
    // The edited entry went in as the newest; the shell list is apart.
    int n;
    const char *newest = history_entry(HISTORY_SEARCH, history_count(HISTORY_SEARCH) - 1, &n);
    EXPECT_EQ(std::string(newest, static_cast<size_t>(n)), "nw");
    EXPECT_EQ(type("!", "\x1b[A", nullptr, HISTORY_SHELL).text, "!ls");
    EXPECT_EQ(type(":", "\x1b[A", nullptr, HISTORY_NONE).bells, 1);
}

} // namespace
