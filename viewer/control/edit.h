// The line editor for texts typed on the bottom line: a cursor within the
// text, the keypad's editing keys, history, and sideways scrolling.
#pragma once

// Bytes of typed text, not counting the modifiers in front.
constexpr int EDIT_TEXT_MAX = 119;
// How long the byte after an ESC may take to count as part of a sequence.
constexpr int EDIT_ESCAPE_MS = 100;
// Passed to edit_key when no byte came within EDIT_ESCAPE_MS.
constexpr int EDIT_TIMEOUT = -3;

enum edit_status : int {
    EDIT_GOING,     // typing goes on, the text as it was
    EDIT_CHANGED,   // typing goes on with a new text or new modifiers
    EDIT_SEQUENCE,  // an escape sequence has begun: the next key only if it
                    // comes within EDIT_ESCAPE_MS, else EDIT_TIMEOUT
    EDIT_ENTER,     // RETURN: the text is to be run (and is now history)
    EDIT_CANCEL,    // erase on an empty text, or ESC alone
};

// Begin a text after prompt (the viewer's own text) on the bottom line.
// history_kind selects the list that up and down recall (HISTORY_NONE:
// none); modifier_bytes are the bytes that may stand in front of an
// entry of that list, shown before the prompt rather than in the text.
void edit_start(const char *prompt, int history_kind, const char *modifier_bytes = "");
// Replace the modifiers shown in front of the prompt ("!" for "!/").
void edit_set_modifiers(const char *modifiers);
const char *edit_modifiers();
// Handle one key; see edit_status.
int edit_key(int key);
// Insert n bytes at the cursor; false (and nothing inserted) when they do
// not fit or hold a NUL.
bool edit_insert(const char *s, int n);
// Draw the prompt and the part of the text around the cursor again.
void edit_redraw();
// The text, NUL-terminated, and its length in bytes.
const char *edit_text();
int edit_length();
// Byte offset of the cursor in the text.
int edit_cursor();
