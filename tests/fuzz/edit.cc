// The bottom-line editor fed arbitrary key bytes, NULs, pauses and broken
// escape sequences included, on screens of any width, in a UTF-8 locale or
// not, with editing keys the terminal may have disabled (NUL), and with a
// history to recall. After every key the text holds no NUL, ends where its
// length says, fits EDIT_TEXT_MAX, and the cursor stands on a character
// boundary within it; a text ended with RETURN becomes the newest entry.
//
// Input: four bytes of settings, then keys; 0xFF and an even byte is a
// pause (EDIT_TIMEOUT), 0xFF and an odd byte is the key 0xFF itself.
#include <clocale>
#include <cstring>
#include <string>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/edit.h"
#include "viewer/control/history.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

constexpr int KINDS[] = {HISTORY_NONE, HISTORY_SEARCH, HISTORY_SHELL, HISTORY_EXAMINE};
constexpr const char *MODIFIERS[] = {"", "!", "!*@", "+"};
constexpr const char *RECALLED[] = {"old", "!@negated", "two\nlines", "\x1b[A", "\xc3\xa9t\xc3\xa9"};

std::string entry_text(int kind, int i)
{
    int n;
    const char *text = history_entry(kind, i, &n);
    return std::string(text, static_cast<size_t>(n));
}

void check_state(const std::string &keys)
{
    const char *text = edit_text();
    int length = edit_length();
    if (length < 0 || length > EDIT_TEXT_MAX)
        fuzz_fail("text length out of range", std::to_string(length));
    if (strlen(text) != static_cast<size_t>(length))
        fuzz_fail("text holds a NUL or is not terminated at its length",
                  std::to_string(strlen(text)) + " / " + std::to_string(length) + " after " + keys);
    int cursor = edit_cursor();
    int at = 0;
    while (at < cursor) {
        text_char c = text_decode(reinterpret_cast<const unsigned char *>(text) + at,
                                  static_cast<size_t>(length - at));
        at += c.length > 0 ? c.length : 1;
    }
    if (at != cursor || cursor > length)
        fuzz_fail("cursor off a character boundary or past the text",
                  std::to_string(cursor) + " of " + std::to_string(length));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        fuzz_scratch_setup();
        setenv("QUOREL_HISTORY", "-", 1);
        return true;
    }();
    (void)ready;
    if (size < 4)
        return 0;
    screen_reset(24, 1 + data[0] % 100);
    bool utf8 = data[1] & 1;
    setlocale(LC_CTYPE, utf8 ? "C.UTF-8" : "C");
    text_utf8 = utf8;
    // A disabled editing key reads as NUL; otherwise the usual ones.
    erase_key = data[1] & 2 ? 0 : 0x7f;
    kill_key = data[1] & 4 ? 0 : 0x15;
    word_erase_key = data[1] & 8 ? 0 : 0x17;
    int kind = KINDS[data[2] % 4];
    const char *modifiers = MODIFIERS[(data[2] >> 2) % 4];
    history_load();
    for (int i = 0; i < data[3] % 6; i++)
        for (int k : {HISTORY_SEARCH, HISTORY_SHELL, HISTORY_EXAMINE})
            history_add(k, RECALLED[i % 5], static_cast<int>(strlen(RECALLED[i % 5])));

    edit_start("/", kind, modifiers);
    std::string keys;
    for (size_t i = 4; i < size; i++) {
        int key = data[i];
        if (key == 0xFF && i + 1 < size)
            key = data[++i] % 2 ? 0xFF : EDIT_TIMEOUT;
        keys += std::to_string(key) + " ";
        int status = edit_key(key);
        check_state(keys);
        // The text stays until the next start: it is what RETURN ran.
        std::string ran = edit_modifiers() + std::string(edit_text());
        if (status == EDIT_ENTER && kind != HISTORY_NONE && edit_length() > 0 &&
            ran.size() <= static_cast<size_t>(HISTORY_ENTRY_MAX)) {
            int count = history_count(kind);
            if (count == 0 || entry_text(kind, count - 1) != ran)
                fuzz_fail("a text ended with RETURN is not the newest entry", ran);
        }
        if (status == EDIT_ENTER || status == EDIT_CANCEL)
            edit_start("/", kind, modifiers);
    }
    out_flush();
    return 0;
}
