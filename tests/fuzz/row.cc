// Rows as the painter sends them to the terminal, over lines that mix
// colour sequences, terminal hyperlinks, control bytes and wide characters,
// folded or chopped and scrolled sideways, with or without the line-number
// column and syntax colours (as C); the bytes of each row are read back.
// Nothing of the input may reach the terminal but whole colour and link sequences and characters
// shown as themselves; a row stays within the screen's width, ends in one
// newline and closes a link it opened; with -N a row that begins a line
// shows its number and any other row blanks; with -S each line is one row.
//
// The settings come first (taken from the input's end, FuzzedDataProvider
// style). The text follows, spelt with tokens so that whole sequences are
// as easy to reach as single bytes: 0xFF and a byte stand for a token of
// the table below, any other byte for itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cctype>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/display/chop.h"
#include "viewer/display/view.h"
#include "viewer/display/line.h"
#include "viewer/display/numcol.h"
#include "viewer/display/screen.h"
#include "viewer/display/syntax.h"
#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr const char *TOKENS[] = {
    "\033[", "m", ";", "38;5;", "48;2;1;2;", "58:2::9:9:9", "\033[0m", "\033[1;4;31m",
    "\033[K", "\033[0K", "\033]8;;", "\033]8;id=a;http://x/", "\033\\", "\a", "\033]2;t\a",
    "\t", "\b", "_\b", "\r\n", "\n", "\r",
    "\xe4\xb8\xad",     // two columns wide
    "\xcc\x81",         // combining, no column
    "\xc2\x9b",         // the 8-bit CSI, as a character
    "\x9b", "\xe2\x80", "\xff",
    "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz",
};
constexpr int TOKEN_COUNT = sizeof TOKENS / sizeof TOKENS[0];
constexpr int MAX_ROWS = 2000;

bool pipe_input;

struct row_setting {
    int low, high;
    void (*apply)(int);
};
constexpr row_setting settings[] = {
    {0, 2, [](int v) { opt_r = v; }},
    {0, 1, [](int v) { opt_S = v; }},
    {0, 300, [](int v) { view_set_column(v); }},
    {0, 1, [](int v) { opt_N = v; }},
    {2, 200, [](int v) { screen_cols = v; }},
    {0, 1, [](int v) { text_utf8 = v; }},
    {0, 2, [](int v) { opt_u = v; }},
    {1, 20, [](int v) { opt_x = v; }},
    {0, 1, [](int v) { pipe_input = v != 0; }},
    {0, 1, [](int v) {
         char message[100];
         syntax_choose(v ? "c" : "off", message, sizeof message);
     }},
};

std::string describe()
{
    return "-r" + std::to_string(opt_r) + " -S" + std::to_string(opt_S) + " column " +
           std::to_string(view_column()) + " -N" + std::to_string(opt_N) + " cols " +
           std::to_string(screen_cols) + " -u" + std::to_string(opt_u) + " -x" +
           std::to_string(opt_x) + (text_utf8 ? " utf-8" : "") + (pipe_input ? " pipe" : " file") +
           " --syntax=" + syntax_setting();
}

std::string spelt(const std::string &bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size(); i++) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0xFF && i + 1 < bytes.size())
            text += TOKENS[static_cast<unsigned char>(bytes[++i]) % TOKEN_COUNT];
        else
            text += static_cast<char>(b);
    }
    return text;
}

// The row built last.
display_row built;

// Standard output is a file in memory: the rows of an input are painted
// into it one after the other, each one's end noted, and read back at once.
int output_fd = -1;

void output_rewind()
{
    out_flush();
    lseek(output_fd, 0, SEEK_SET);
    if (ftruncate(output_fd, 0) != 0)
        fuzz_fail("cannot empty the output file");
}

// Where the row just painted ends in the output.
off_t paint_row()
{
    show_line(built);
    out_flush();
    return lseek(output_fd, 0, SEEK_CUR);
}

std::string output_text()
{
    off_t length = lseek(output_fd, 0, SEEK_CUR);
    std::string out(static_cast<size_t>(length), '\0');
    if (pread(output_fd, out.data(), out.size(), 0) != length)
        fuzz_fail("cannot read the output back");
    return out;
}

[[noreturn]] void row_fault(const char *what, const std::string &out, size_t at)
{
    std::string shown;
    for (unsigned char c : out) {
        char hex[8];
        snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
        shown += hex;
    }
    fuzz_fail(what, "at byte " + std::to_string(at) + " of \"" + shown + "\"; " + describe());
}

// The row's bytes as the terminal takes them.
void check_row(const std::string &out, const std::string &number_column)
{
    if (out.compare(0, number_column.size(), number_column) != 0)
        row_fault("number column wrong", out, 0);
    auto byte = [&](size_t i) { return i < out.size() ? static_cast<unsigned char>(out[i]) : 0; };
    auto is_hex = [&](size_t k) { return isdigit(byte(k)) || (byte(k) >= 'A' && byte(k) <= 'F'); };
    int column = 0;
    bool linked = false;
    // A cell wider than the whole row stands alone on it, beyond its end: it
    // could be shown nowhere else. The "<XX>" forms of one character follow
    // each other.
    const int text_start = static_cast<int>(number_column.size());
    bool in_first_cell = false;
    size_t i = 0;
    while (i < out.size()) {
        unsigned char b = byte(i);
        int before = column;
        bool hex = b == '<' && is_hex(i + 1) && is_hex(i + 2) && byte(i + 3) == '>';
        if (hex) {
            in_first_cell = before == text_start || in_first_cell;
            column += 4;
            i += 4;
        } else if (b == 0x1B && byte(i + 1) == '[') {
            size_t k = i + 2;
            while ((byte(k) >= '0' && byte(k) <= '9') || byte(k) == ';' || byte(k) == ':')
                k++;
            if (byte(k) != 'm')
                row_fault("a sequence that is no colour", out, i);
            i = k + 1;
        } else if (b == 0x1B && byte(i + 1) == ']') {
            if (out.compare(i, 5, "\033]8;;") != 0 && out.compare(i, 4, "\033]8;") != 0)
                row_fault("an operating-system sequence that is no link", out, i);
            size_t k = i + 4, last_semicolon = 0;
            while (byte(k) >= 0x20 && byte(k) < 0x7F) {
                if (byte(k) == ';')
                    last_semicolon = k;
                k++;
            }
            if (last_semicolon == 0)
                row_fault("a link without its fields", out, i);
            linked = k > last_semicolon + 1;
            if (byte(k) == 0x07)
                i = k + 1;
            else if (byte(k) == 0x1B && byte(k + 1) == '\\')
                i = k + 2;
            else
                row_fault("a link not ended", out, i);
        } else if (b == '\b') {
            column = column > 0 ? column - 1 : 0;
            i++;
        } else if (b == '\n') {
            if (i + 1 != out.size())
                row_fault("a newline inside the row", out, i);
            i++;
        } else if (b < 0x20 || b == 0x7F) {
            row_fault("a control byte", out, i);
        } else if (b < 0x80) {
            column++;
            i++;
            in_first_cell = before == text_start;
        } else if (!text_utf8) {
            if (b < 0xA0)
                row_fault("an 8-bit control byte", out, i);
            column++;
            i++;
            in_first_cell = before == text_start;
        } else {
            text_char c = text_decode(reinterpret_cast<const unsigned char *>(out.data()) + i,
                                      out.size() - i);
            if (c.length < 2 || c.form != FORM_PLAIN || (c.code >= 0x80 && c.code < 0xA0))
                row_fault("bytes that are no character shown as themselves", out, i);
            column += c.columns;
            i += static_cast<size_t>(c.length);
            in_first_cell = before == text_start;
        }
        if (column > screen_cols && !in_first_cell)
            row_fault("a row wider than the screen", out, i);
    }
    if (out.empty() || out.back() != '\n')
        row_fault("a row without its newline", out, out.size());
    if (linked)
        row_fault("a link left open", out, out.size());
}

void check_input(const std::string &text)
{
    fuzz_open_input(text, pipe_input && text.size() <= 60000);
    linenum_reset();
    // Independent of the viewer: where each line begins and its number.
    auto begins_line = [&](file_pos p) { return p == 0 || text[size_t(p) - 1] == '\n'; };
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (!text.empty() && text.back() != '\n')
        lines++;
    int number_width = opt_N && screen_cols >= 16 ? 8 : 0;

    output_rewind();
    std::vector<std::pair<off_t, std::string>> painted;    // each row's end and number column
    size_t rows = 0;
    for (file_pos pos = 0; rows < MAX_ROWS;) {
        numcol_prepare(pos);
        file_pos next = line_next(pos, &built);
        if (next == NO_POSITION)
            break;
        rows++;
        file_pos start = built.start;
        if (start < 0 || start > static_cast<file_pos>(text.size()))
            fuzz_fail("row start outside the input", std::to_string(start) + "; " + describe());
        if (opt_S && !begins_line(start))
            fuzz_fail("a chopped row that does not begin a line",
                      std::to_string(start) + "; " + describe());
        std::string number_column;
        if (number_width > 0 && begins_line(start)) {
            int64_t number = 1;
            for (file_pos p = 0; p < start; p++)
                number += text[size_t(p)] == '\n';
            char digits[32];
            snprintf(digits, sizeof digits, "%7lld ", static_cast<long long>(number));
            number_column = digits;
        } else {
            number_column.assign(static_cast<size_t>(number_width), ' ');
        }
        painted.emplace_back(paint_row(), number_column);
        if (next <= pos)
            fuzz_fail("line_next does not advance", describe());
        pos = next;
    }
    std::string out = output_text();
    off_t from = 0;
    for (const auto &[end, number_column] : painted) {
        check_row(out.substr(size_t(from), size_t(end - from)), number_column);
        from = end;
    }
    if (opt_S && rows < MAX_ROWS && rows != lines)
        fuzz_fail("chopped rows are not one a line",
                  std::to_string(rows) + " rows, " + std::to_string(lines) + " lines; " +
                      describe());
    input_close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (output_fd < 0) {
        fuzz_scratch_setup();
        setlocale(LC_CTYPE, "C.UTF-8");
        output_fd = memfd_create("rows", 0);
        if (output_fd < 0 || dup2(output_fd, 1) < 0)
            fuzz_fail("no file for the output");
    }
    FuzzedDataProvider provider(data, size);
    settings_reset();
    screen_reset(24, 80);
    for (const row_setting &s : settings)
        s.apply(provider.ConsumeIntegralInRange(s.low, s.high));
    check_input(spelt(provider.ConsumeRemainingBytesAsString()));
    return 0;
}
