// Action codes and the key-table format shared by the viewer and mivokey.
//
// A key table is a run of entries with no header or trailer; each entry is
// the key bytes (one or more, none of them 0), a 0 byte, then the action code
// (one byte, read back as signed). Entries are searched in order.
#pragma once
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

enum action_code : int {
    ACTION_REPEAT_SEARCH = 1,
    ACTION_BACK_LINE = 2,
    ACTION_BACK_SCREEN = 3,
    ACTION_BACK_SCROLL = 4,
    ACTION_BACK_SEARCH = 5,
    ACTION_NUMBER = 6,          // a digit: produced by the default table only
    ACTION_DISPLAY_OPTION = 7,
    ACTION_DEBUG = 8,
    ACTION_EXAMINE = 9,
    ACTION_FIRST_CMD = 10,
    ACTION_FLUSH_REPAINT = 11,
    ACTION_FORW_LINE = 12,
    ACTION_FORW_SCREEN = 13,
    ACTION_FORW_SCROLL = 14,
    ACTION_FORW_SEARCH = 15,
    ACTION_GOTO_END = 16,
    ACTION_GOTO_LINE = 17,
    ACTION_GOTO_MARK = 18,
    ACTION_HELP = 19,
    ACTION_NEXT_FILE = 20,
    ACTION_PERCENT = 21,
    ACTION_NEED_MORE = 22,      // the keys so far begin a longer binding
    ACTION_PREV_FILE = 23,
    ACTION_QUIT = 24,
    ACTION_REPAINT = 25,
    ACTION_SET_MARK = 26,
    ACTION_SHELL = 27,
    ACTION_STATUS = 28,
    ACTION_UNBOUND = 29,
    ACTION_TOGGLE_OPTION = 30,
    ACTION_VERSION = 31,
    ACTION_VISUAL = 32,
    ACTION_FOLLOW = 33,         // keep showing the end as the input grows
    ACTION_FILTER = 34,         // show only the lines that match a typed pattern
    ACTION_RIGHT_SCROLL = 35,   // with -S: the view of long lines to the right
    ACTION_LEFT_SCROLL = 36,    // and back to the left
    ACTION_MOUSE = 37,          // a mouse report begins: produced by the default table only
    ACTION_SAVE = 38,           // write what was read of the input to a file
    ACTION_HIGHLIGHT = 39,      // add a pattern to highlight in a colour of its own
    ACTION_NEXT_SECTION = 40,   // to the start of the next section (--section)
    ACTION_PREV_SECTION = 41,   // to the start of the section shown, or the one before
    ACTION_NOT_FOUND = 100,     // no binding for the keys typed
    ACTION_INVALID = 101,
};

// The names a key file's source gives the actions, as mivokey takes them.
struct action_name {
    std::string_view name;
    int code;
};

// Searched from the start, exact and case-sensitive; some codes have two names.
inline constexpr std::array<action_name, 44> action_names = {{
    {.name = "back-line", .code = ACTION_BACK_LINE},
    {.name = "back-screen", .code = ACTION_BACK_SCREEN},
    {.name = "back-scroll", .code = ACTION_BACK_SCROLL},
    {.name = "back-search", .code = ACTION_BACK_SEARCH},
    {.name = "debug", .code = ACTION_DEBUG},
    {.name = "display-flag", .code = ACTION_DISPLAY_OPTION},
    {.name = "display-option", .code = ACTION_DISPLAY_OPTION},
    {.name = "end", .code = ACTION_GOTO_END},
    {.name = "examine", .code = ACTION_EXAMINE},
    {.name = "filter", .code = ACTION_FILTER},
    {.name = "first-cmd", .code = ACTION_FIRST_CMD},
    {.name = "firstcmd", .code = ACTION_FIRST_CMD},
    {.name = "flush-repaint", .code = ACTION_FLUSH_REPAINT},
    {.name = "follow", .code = ACTION_FOLLOW},
    {.name = "forw-line", .code = ACTION_FORW_LINE},
    {.name = "forw-screen", .code = ACTION_FORW_SCREEN},
    {.name = "forw-scroll", .code = ACTION_FORW_SCROLL},
    {.name = "forw-search", .code = ACTION_FORW_SEARCH},
    {.name = "goto-end", .code = ACTION_GOTO_END},
    {.name = "goto-line", .code = ACTION_GOTO_LINE},
    {.name = "goto-mark", .code = ACTION_GOTO_MARK},
    {.name = "help", .code = ACTION_HELP},
    {.name = "highlight", .code = ACTION_HIGHLIGHT},
    {.name = "invalid", .code = ACTION_INVALID},
    {.name = "left-scroll", .code = ACTION_LEFT_SCROLL},
    {.name = "next-file", .code = ACTION_NEXT_FILE},
    {.name = "next-section", .code = ACTION_NEXT_SECTION},
    {.name = "noaction", .code = ACTION_INVALID},
    {.name = "percent", .code = ACTION_PERCENT},
    {.name = "prev-file", .code = ACTION_PREV_FILE},
    {.name = "previous-section", .code = ACTION_PREV_SECTION},
    {.name = "quit", .code = ACTION_QUIT},
    {.name = "repaint", .code = ACTION_REPAINT},
    {.name = "repaint-flush", .code = ACTION_FLUSH_REPAINT},
    {.name = "repeat-search", .code = ACTION_REPEAT_SEARCH},
    {.name = "right-scroll", .code = ACTION_RIGHT_SCROLL},
    {.name = "save", .code = ACTION_SAVE},
    {.name = "set-mark", .code = ACTION_SET_MARK},
    {.name = "shell", .code = ACTION_SHELL},
    {.name = "status", .code = ACTION_STATUS},
    {.name = "toggle-flag", .code = ACTION_TOGGLE_OPTION},
    {.name = "toggle-option", .code = ACTION_TOGGLE_OPTION},
    {.name = "version", .code = ACTION_VERSION},
    {.name = "visual", .code = ACTION_VISUAL},
}};

// The action code named name; -1 when there is none.
inline int action_lookup(std::string_view name)
{
    for (const action_name &a : action_names)
        if (a.name == name)
            return a.code;
    return -1;
}

// The viewer reads at most this many bytes of the user key file.
constexpr int USER_KEY_TABLE_SIZE = 200;

// Name of the user key file in the home directory.
constexpr char USER_KEY_FILE[] = ".mivo";

// The user key file's path, home "/" USER_KEY_FILE, sized from home itself
// so that no length of it can overrun; the caller frees it. nullptr when
// memory is short.
inline char *user_key_path(const char *home)
{
    size_t size = strlen(home) + 1 + sizeof USER_KEY_FILE;
    auto *path = static_cast<char *>(malloc(size));
    if (path != nullptr)
        snprintf(path, size, "%s/%s", home, USER_KEY_FILE);
    return path;
}
