#include "viewer/control/decode.h"

#include "common/keys.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/term.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char ESC = 27;

constexpr char ctrl(char c)
{
    return static_cast<char>(c & 31);
}

struct key_binding {
    std::array<char, 4> keys;   // one to four key bytes, zero-padded
    action_code code;
};

// The built-in bindings, in search order. No key string here begins with
// another, so the order only matters against the user's table.
constexpr key_binding default_bindings[] = {
    {.keys = {ctrl('M')}, .code = ACTION_FORW_LINE},
    {.keys = {ctrl('J')}, .code = ACTION_FORW_LINE},
    {.keys = {'e'}, .code = ACTION_FORW_LINE},
    {.keys = {'j'}, .code = ACTION_FORW_LINE},
    {.keys = {ctrl('E')}, .code = ACTION_FORW_LINE},
    {.keys = {ctrl('N')}, .code = ACTION_FORW_LINE},
    {.keys = {'k'}, .code = ACTION_BACK_LINE},
    {.keys = {'y'}, .code = ACTION_BACK_LINE},
    {.keys = {ctrl('Y')}, .code = ACTION_BACK_LINE},
    {.keys = {ctrl('K')}, .code = ACTION_BACK_LINE},
    {.keys = {ctrl('P')}, .code = ACTION_BACK_LINE},
    {.keys = {'d'}, .code = ACTION_FORW_SCROLL},
    {.keys = {ctrl('D')}, .code = ACTION_FORW_SCROLL},
    {.keys = {'u'}, .code = ACTION_BACK_SCROLL},
    {.keys = {ctrl('U')}, .code = ACTION_BACK_SCROLL},
    {.keys = {' '}, .code = ACTION_FORW_SCREEN},
    {.keys = {'f'}, .code = ACTION_FORW_SCREEN},
    {.keys = {ctrl('F')}, .code = ACTION_FORW_SCREEN},
    {.keys = {ctrl('V')}, .code = ACTION_FORW_SCREEN},
    {.keys = {'b'}, .code = ACTION_BACK_SCREEN},
    {.keys = {ctrl('B')}, .code = ACTION_BACK_SCREEN},
    {.keys = {ESC, 'v'}, .code = ACTION_BACK_SCREEN},
    {.keys = {'R'}, .code = ACTION_FLUSH_REPAINT},
    {.keys = {'r'}, .code = ACTION_REPAINT},
    {.keys = {ctrl('R')}, .code = ACTION_REPAINT},
    {.keys = {ctrl('L')}, .code = ACTION_REPAINT},
    {.keys = {'g'}, .code = ACTION_GOTO_LINE},
    {.keys = {'<'}, .code = ACTION_GOTO_LINE},
    {.keys = {ESC, '<'}, .code = ACTION_GOTO_LINE},
    {.keys = {'p'}, .code = ACTION_PERCENT},
    {.keys = {'%'}, .code = ACTION_PERCENT},
    {.keys = {'G'}, .code = ACTION_GOTO_END},
    {.keys = {ESC, '>'}, .code = ACTION_GOTO_END},
    {.keys = {'>'}, .code = ACTION_GOTO_END},
    {.keys = {'0'}, .code = ACTION_NUMBER},
    {.keys = {'1'}, .code = ACTION_NUMBER},
    {.keys = {'2'}, .code = ACTION_NUMBER},
    {.keys = {'3'}, .code = ACTION_NUMBER},
    {.keys = {'4'}, .code = ACTION_NUMBER},
    {.keys = {'5'}, .code = ACTION_NUMBER},
    {.keys = {'6'}, .code = ACTION_NUMBER},
    {.keys = {'7'}, .code = ACTION_NUMBER},
    {.keys = {'8'}, .code = ACTION_NUMBER},
    {.keys = {'9'}, .code = ACTION_NUMBER},
    {.keys = {'='}, .code = ACTION_STATUS},
    {.keys = {ctrl('G')}, .code = ACTION_STATUS},
    {.keys = {'/'}, .code = ACTION_FORW_SEARCH},
    {.keys = {'?'}, .code = ACTION_BACK_SEARCH},
    {.keys = {'n'}, .code = ACTION_REPEAT_SEARCH},
    {.keys = {'m'}, .code = ACTION_SET_MARK},
    {.keys = {'\''}, .code = ACTION_GOTO_MARK},
    {.keys = {ctrl('X'), ctrl('X')}, .code = ACTION_GOTO_MARK},
    {.keys = {'E'}, .code = ACTION_EXAMINE},
    {.keys = {':', 'e'}, .code = ACTION_EXAMINE},
    {.keys = {ctrl('X'), ctrl('V')}, .code = ACTION_EXAMINE},
    {.keys = {'N'}, .code = ACTION_NEXT_FILE},
    {.keys = {'P'}, .code = ACTION_PREV_FILE},
    {.keys = {':', 'n'}, .code = ACTION_NEXT_FILE},
    {.keys = {':', 'p'}, .code = ACTION_PREV_FILE},
    {.keys = {'-'}, .code = ACTION_TOGGLE_OPTION},
    {.keys = {'_'}, .code = ACTION_DISPLAY_OPTION},
    {.keys = {'v'}, .code = ACTION_VISUAL},
    {.keys = {'!'}, .code = ACTION_SHELL},
    {.keys = {'+'}, .code = ACTION_FIRST_CMD},
    {.keys = {'H'}, .code = ACTION_HELP},
    {.keys = {'h'}, .code = ACTION_HELP},
    {.keys = {'V'}, .code = ACTION_VERSION},
    {.keys = {'q'}, .code = ACTION_QUIT},
    {.keys = {':', 'q'}, .code = ACTION_QUIT},
    {.keys = {'Z', 'Z'}, .code = ACTION_QUIT},

    // Added after the classic 70, so that those and the user's bindings
    // keep their precedence.
    {.keys = {'F'}, .code = ACTION_FOLLOW},
    // The cursor and editing keypad in both of the forms terminals send:
    // ESC [ in normal mode, ESC O in application mode, and the "~" forms.
    {.keys = {ESC, '[', 'A'}, .code = ACTION_BACK_LINE},
    {.keys = {ESC, 'O', 'A'}, .code = ACTION_BACK_LINE},
    {.keys = {ESC, '[', 'B'}, .code = ACTION_FORW_LINE},
    {.keys = {ESC, 'O', 'B'}, .code = ACTION_FORW_LINE},
    {.keys = {ESC, '[', '5', '~'}, .code = ACTION_BACK_SCREEN},
    {.keys = {ESC, '[', '6', '~'}, .code = ACTION_FORW_SCREEN},
    {.keys = {ESC, '[', 'H'}, .code = ACTION_GOTO_LINE},
    {.keys = {ESC, 'O', 'H'}, .code = ACTION_GOTO_LINE},
    {.keys = {ESC, '[', '1', '~'}, .code = ACTION_GOTO_LINE},
    {.keys = {ESC, '[', '7', '~'}, .code = ACTION_GOTO_LINE},
    {.keys = {ESC, '[', 'F'}, .code = ACTION_GOTO_END},
    {.keys = {ESC, 'O', 'F'}, .code = ACTION_GOTO_END},
    {.keys = {ESC, '[', '4', '~'}, .code = ACTION_GOTO_END},
    {.keys = {ESC, '[', '8', '~'}, .code = ACTION_GOTO_END},
    {.keys = {'&'}, .code = ACTION_FILTER},
    {.keys = {'s'}, .code = ACTION_SAVE},
    {.keys = {ESC, '[', 'C'}, .code = ACTION_RIGHT_SCROLL},
    {.keys = {ESC, 'O', 'C'}, .code = ACTION_RIGHT_SCROLL},
    {.keys = {ESC, '[', 'D'}, .code = ACTION_LEFT_SCROLL},
    {.keys = {ESC, 'O', 'D'}, .code = ACTION_LEFT_SCROLL},
    {.keys = {'*'}, .code = ACTION_HIGHLIGHT},
    {.keys = {'}'}, .code = ACTION_NEXT_SECTION},
    {.keys = {'{'}, .code = ACTION_PREV_SECTION},
    // What a terminal sends for the mouse with -Y: the rest of the report
    // is read by the command that this begins.
    {.keys = {ESC, '[', '<'}, .code = ACTION_MOUSE},
};

// The rows before the additions: the table every key file was made against.
constexpr int CLASSIC_BINDINGS = 70;

constexpr int key_length(const key_binding &b)
{
    int n = 0;
    while (n < static_cast<int>(b.keys.size()) && b.keys[n] != 0)
        n++;
    return n;
}

constexpr int packed_size(int entries)
{
    int size = 0;
    for (int i = 0; i < entries; i++)
        size += key_length(default_bindings[i]) + 2;
    return size;
}

// The rows above laid out in the key-file format, so that both tables are
// searched by the same code.
constexpr auto default_key_table = [] {
    std::array<char, packed_size(std::size(default_bindings))> table{};
    int pos = 0;
    for (const key_binding &b : default_bindings) {
        for (int i = 0; i < key_length(b); i++)
            table[pos++] = b.keys[i];
        table[pos++] = 0;
        table[pos++] = static_cast<char>(b.code);
    }
    return table;
}();

static_assert(packed_size(CLASSIC_BINDINGS) == 220);

// The keys the terminal description names, where they differ from the
// forms above, searched after the default table.
struct terminal_key {
    const char *id;             // termcap capability
    action_code code;
};
constexpr terminal_key terminal_keys[] = {
    {.id = "ku", .code = ACTION_BACK_LINE},
    {.id = "kd", .code = ACTION_FORW_LINE},
    {.id = "kP", .code = ACTION_BACK_SCREEN},
    {.id = "kN", .code = ACTION_FORW_SCREEN},
    {.id = "kh", .code = ACTION_GOTO_LINE},
    {.id = "@7", .code = ACTION_GOTO_END},
    {.id = "kr", .code = ACTION_RIGHT_SCROLL},
    {.id = "kl", .code = ACTION_LEFT_SCROLL},
};
// Each key string is cut to this many bytes; real ones have 3 to 6.
constexpr int TERMINAL_KEY_MAX = 15;
std::array<char, std::size(terminal_keys) * (TERMINAL_KEY_MAX + 2)> terminal_key_table;
int terminal_key_length;

// Filled once at start-up, then only read.
std::array<char, USER_KEY_TABLE_SIZE> user_key_table;
int user_key_length;    // valid bytes; 0 when there is no usable key file

// Room for 31 key bytes and the terminating NUL.
constexpr int TYPED_KEYS_SIZE = 32;
std::array<char, TYPED_KEYS_SIZE> typed_keys;    // the command's keys so far, NUL-terminated
int typed_length;       // write position: the number of keys held

enum class lookup { none, need_more, found };

bool is_default_key(const char *keys, size_t n)
{
    for (const key_binding &b : default_bindings)
        if (static_cast<size_t>(key_length(b)) == n && memcmp(b.keys.data(), keys, n) == 0)
            return true;
    return false;
}

// The terminal's own key strings, after the fixed forms: a terminal whose
// keypad sends something else still gets its keys.
void load_terminal_keys()
{
    terminal_key_length = 0;
    for (const terminal_key &k : terminal_keys) {
        const char *s = term_key_string(k.id);
        size_t n = s ? strlen(s) : 0;
        if (n == 0 || n > TERMINAL_KEY_MAX || is_default_key(s, n))
            continue;
        memcpy(terminal_key_table.data() + terminal_key_length, s, n);
        terminal_key_length += static_cast<int>(n);
        terminal_key_table[terminal_key_length++] = 0;
        terminal_key_table[terminal_key_length++] = static_cast<char>(k.code);
    }
}

// Search one table for the typed keys. The typed length, not a NUL, ends
// them, so a 0 key byte cannot look like a prefix of every entry. A user
// entry with ACTION_NOT_FOUND defers to the default table.
lookup search_table(const char *table, int length, bool defer_not_found, int *code)
{
    int pos = 0;
    while (pos < length) {
        int i = 0;
        while (pos + i < length && table[pos + i] != 0 && i < typed_length &&
               table[pos + i] == typed_keys[i])
            i++;
        // Where the comparison stopped decides the entry's fate.
        int at = pos + i;
        if (at >= length)
            return lookup::none;    // a truncated entry: nothing after it
        if (i == typed_length && table[at] != 0)
            return lookup::need_more;
        if (i == typed_length) {
            if (at + 1 >= length)
                return lookup::none;
            *code = static_cast<signed char>(table[at + 1]);
            if (defer_not_found && *code == ACTION_NOT_FOUND)
                return lookup::none;
            return lookup::found;
        }
        // A differing byte or an early end: skip to the next entry.
        while (at < length && table[at] != 0)
            at++;
        pos = at + 2;
    }
    return lookup::none;
}

// The typed keys in the user's table, the defaults and the terminal's keys.
// A prefix of a user entry keeps the defaults out of it: that is how a
// longer user binding shadows a shorter built-in one.
lookup look_up_typed(int *code)
{
    lookup found = search_table(user_key_table.data(), user_key_length, true, code);
    if (found == lookup::none)
        found = search_table(default_key_table.data(), static_cast<int>(default_key_table.size()),
                             false, code);
    if (found == lookup::none)
        found = search_table(terminal_key_table.data(), terminal_key_length, false, code);
    return found;
}

// The keys typed so far begin a control sequence: ESC [ or ESC O, then
// parameter and intermediate bytes, then one final byte.
bool in_control_sequence()
{
    return typed_length >= 2 && typed_keys[0] == ESC &&
           (typed_keys[1] == '[' || typed_keys[1] == 'O');
}

bool sequence_goes_on(int key)
{
    return key >= 0x20 && key <= 0x3F;
}

bool is_final_byte(int key)
{
    return key >= 0x40 && key <= 0x7E;
}

// A key with a modifier ends its parameters with ";2" to ";8" (Shift, Alt,
// Ctrl and their mixes); take it out, and the "1" that then stands alone
// before a letter. False when there is none.
bool drop_modifier()
{
    int end = typed_length - 1;     // the final byte
    if (end < 4 || typed_keys[end - 2] != ';' || typed_keys[end - 1] < '2' ||
        typed_keys[end - 1] > '8')
        return false;
    int start = 2;
    for (int i = start; i < end - 2; i++)
        if (typed_keys[i] < '0' || typed_keys[i] > '9')
            return false;
    int kept = end - 2;
    char final_byte = typed_keys[end];
    if (final_byte != '~' && kept == start + 1 && typed_keys[start] == '1')
        kept = start;
    typed_keys[kept] = final_byte;
    typed_length = kept + 1;
    typed_keys[typed_length] = 0;
    return true;
}

} // namespace

// Read $HOME/.mivo; a missing file is normal, a malformed one is reported.
// The terminal's key strings are taken at the same time, once the terminal
// description is known.
void keys_load_user()
{
    load_terminal_keys();
    user_key_length = 0;
    const char *home = getenv("HOME");
    if (home == nullptr)
        return;
    char *path = user_key_path(home);
    if (path == nullptr)
        return;
    int fd = open(path, O_RDONLY);
    free(path);
    if (fd < 0)
        return;

    // Short reads are legal on some file systems; stop only at the end of
    // the file or when the table is full.
    int n = 0;
    bool failed = false;
    while (n < USER_KEY_TABLE_SIZE) {
        ssize_t k = read(fd, user_key_table.data() + n, static_cast<size_t>(USER_KEY_TABLE_SIZE - n));
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0)
            failed = true;
        if (k <= 0)
            break;
        n += static_cast<int>(k);
    }
    close(fd);
    // Only the last entry's terminator is checked. The search never reads
    // past the valid bytes, so a garbled middle cannot run it off the end.
    if (failed || n < 3 || user_key_table[n - 2] != 0) {
        show_error("invalid user key file");
        n = 0;
    }
    user_key_length = n;
}

// Start a new key sequence.
void key_decode_reset()
{
    typed_length = 0;
    typed_keys[0] = 0;
}

// User bindings first, then the defaults. A sequence that would need more
// than 31 bytes is unbound: nothing typed can complete it. A control
// sequence that no table knows is taken whole, up to its final byte, so
// that none of its bytes runs as a command; with a modifier it acts as the
// key without it.
int key_decode(int key)
{
    if (typed_length >= TYPED_KEYS_SIZE - 1) {
        bool sequence = in_control_sequence();
        if (sequence && sequence_goes_on(key))
            return ACTION_NEED_MORE;
        key_decode_reset();
        if (sequence)
            return ACTION_NOT_FOUND;
    }
    typed_keys[typed_length++] = static_cast<char>(key);
    typed_keys[typed_length] = 0;

    int code = ACTION_NOT_FOUND;
    lookup found = look_up_typed(&code);
    if (found == lookup::found && code != ACTION_NEED_MORE) {
        key_decode_reset();
        return code;
    }
    if (found != lookup::none && typed_length < TYPED_KEYS_SIZE - 1)
        return ACTION_NEED_MORE;
    if (found == lookup::none && in_control_sequence()) {
        if (sequence_goes_on(key))
            return ACTION_NEED_MORE;
        if (is_final_byte(key) && drop_modifier() && look_up_typed(&code) == lookup::found &&
            code != ACTION_NEED_MORE) {
            key_decode_reset();
            return code;
        }
    }
    key_decode_reset();
    return ACTION_NOT_FOUND;
}
