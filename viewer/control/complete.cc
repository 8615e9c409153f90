#include "viewer/control/complete.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "viewer/control/edit.h"
#include "viewer/display/screen.h"
#include "viewer/display/view.h"
#include "viewer/options/option.h"
#include "viewer/process/shell.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "viewer/terminal/text.h"

namespace {

// Names kept for a list; a list shows one screen at most, so a directory
// with more matches than this loses only names that would not be shown.
constexpr int NAMES_MAX = 1024;
constexpr int NAME_BYTES = 64 * 1024;
constexpr int GAP = 2;          // columns between the names of a list

char names[NAME_BYTES];
int name_at[NAMES_MAX];
int name_count;
int name_fill;
bool listed;                    // a list covers the bottom rows

int compare_names(const void *a, const void *b)
{
    return strcmp(names + *static_cast<const int *>(a), names + *static_cast<const int *>(b));
}

void keep_name(const char *name)
{
    int n = static_cast<int>(strlen(name)) + 1;
    if (name_count == NAMES_MAX || name_fill + n > NAME_BYTES)
        return;
    memcpy(names + name_fill, name, static_cast<size_t>(n));
    name_at[name_count++] = name_fill;
    name_fill += n;
}

// Show at most `width` columns of a name, whole characters only.
void show_name(const char *name, int width)
{
    auto *p = reinterpret_cast<const unsigned char *>(name);
    size_t n = strlen(name);
    int columns = 0;
    for (size_t i = 0; i < n;) {
        text_char c = text_decode(p + i, n - i);
        if (columns + c.columns > width)
            break;
        out_text(name + i, static_cast<size_t>(c.length));
        columns += c.columns;
        i += static_cast<size_t>(c.length);
    }
    for (; columns < width; columns++)
        out_char(' ');
}

// The names in columns, down then across, on the rows above the bottom
// line: the screen scrolls up under them.
void list_names()
{
    qsort(name_at, static_cast<size_t>(name_count), sizeof name_at[0], compare_names);
    int widest = 0;
    for (int i = 0; i < name_count; i++) {
        int w = text_columns(names + name_at[i]);
        widest = w > widest ? w : widest;
    }
    int usable = screen_cols - 1;
    int width = widest + GAP < usable ? widest + GAP : usable;
    int across = usable / width > 0 ? usable / width : 1;
    int rows = (name_count + across - 1) / across;
    if (rows > view_bottom_line())
        rows = view_bottom_line();
    term_lower_left();
    term_clear_eol();
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < across; c++) {
            int i = c * rows + r;
            if (i < name_count)
                show_name(names + name_at[i], width);
        }
        out_char('\n');
    }
    listed = true;
    screen_stale = 1;
    edit_redraw();
}

// The names that fit what was typed: how many, and what they share.
struct fitting {
    char common[NAME_MAX + 1];
    size_t common_length = 0;
    int matches = 0;
};

// Count and keep name if it begins with the typed bytes.
void consider(fitting &f, const char *name, const char *typed, size_t typed_length)
{
    if (strncmp(name, typed, typed_length) != 0)
        return;
    size_t length = strlen(name);
    if (length > NAME_MAX)
        return;
    if (f.matches++ == 0) {
        f.common_length = length;
        memcpy(f.common, name, length + 1);
    } else {
        size_t k = typed_length;
        while (k < f.common_length && f.common[k] == name[k])
            k++;
        f.common_length = k;
    }
    keep_name(name);
}

bool is_directory(const char *dir, const char *name)
{
    char path[PATH_MAX];
    struct stat st;
    size_t d = strlen(dir);
    if (d + 1 + strlen(name) >= sizeof path)
        return false;
    memcpy(path, dir, d);
    path[d] = '/';
    strcpy(path + d + 1, name);
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Put in what the names that fit share beyond the typed bytes; the bell
// when there is no name or more than one, a list on a second Tab.
void finish(fitting &f, size_t typed, bool again)
{
    if (f.matches == 0) {
        term_bell();
        return;
    }
    if (f.matches > 1 && again) {
        list_names();
        return;
    }
    if (!edit_insert(f.common + typed, static_cast<int>(f.common_length - typed)) ||
        f.matches > 1)
        term_bell();
}

} // namespace

void complete_tab(bool again)
{
    // The examine command is refused there anyway; nothing is looked at.
    if (secure_mode()) {
        term_bell();
        return;
    }
    const char *text = edit_text();
    int cursor = edit_cursor();
    int start = cursor;
    while (start > 0 && text[start - 1] != ' ')
        start--;
    const char *slash = static_cast<const char *>(memrchr(text + start, '/', static_cast<size_t>(cursor - start)));
    int base = slash ? static_cast<int>(slash - text) + 1 : start;
    size_t base_length = static_cast<size_t>(cursor - base);

    // The directory the word names; "~/" is the home directory, as the
    // shell that expands the name will take it.
    char dir[PATH_MAX];
    const char *home = getenv("HOME");
    int dir_length = base - start;
    const char *from = text + start;
    size_t prefix = 0;
    if (dir_length >= 2 && from[0] == '~' && from[1] == '/' && home && *home) {
        prefix = strlen(home);
        from++;
        dir_length--;
    }
    if (prefix + static_cast<size_t>(dir_length) + 2 > sizeof dir) {
        term_bell();
        return;
    }
    if (prefix)
        memcpy(dir, home, prefix);
    memcpy(dir + prefix, from, static_cast<size_t>(dir_length));
    dir[prefix + static_cast<size_t>(dir_length)] = '\0';
    if (dir[0] == '\0')
        strcpy(dir, ".");

    DIR *d = opendir(dir);
    if (!d) {
        term_bell();
        return;
    }
    fitting f;
    name_count = name_fill = 0;
    while (const dirent *e = readdir(d)) {
        const char *name = e->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        // Hidden names only when the word asks for them.
        if (name[0] == '.' && (base_length == 0 || text[base] != '.'))
            continue;
        consider(f, name, text + base, base_length);
    }
    closedir(d);
    if (f.matches == 1 && is_directory(dir, f.common))
        f.common[f.common_length++] = '/';
    finish(f, base_length, again);
}

void complete_option_name(bool again)
{
    const char *text = edit_text();
    size_t typed = static_cast<size_t>(edit_cursor());
    fitting f;
    name_count = name_fill = 0;
    size_t equals = strcspn(text, "=");
    char name[NAME_MAX + 1];
    if (equals < typed) {
        // After "=": the values of a choice.
        option_long_match m = option_lookup_long(text, equals);
        if (m.entry)
            for (int i = 0; option_choice_name(m.entry, i, name, sizeof name); i++)
                consider(f, name, text + equals + 1, typed - equals - 1);
        finish(f, typed - equals - 1, again);
        return;
    }
    for (const option_entry *o = option_table; o->long_name; o++) {
        if (o->kind & OPT_ACTION)
            continue;
        consider(f, o->long_name, text, typed);
        if (o->kind & OPT_BOOL) {
            snprintf(name, sizeof name, "no-%s", o->long_name);
            consider(f, name, text, typed);
        }
    }
    // One name that takes a value: its '=' comes with it.
    if (f.matches == 1) {
        option_long_match m = option_lookup_long(f.common, f.common_length);
        if (m.entry && !(m.entry->kind & OPT_BOOL) && f.common_length < NAME_MAX)
            f.common[f.common_length++] = '=';
    }
    finish(f, typed, again);
}

void complete_dismiss()
{
    if (!listed)
        return;
    listed = false;
    repaint_screen();
    edit_redraw();
}
