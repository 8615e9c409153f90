#include "viewer/navigation/tags.h"

#include <cstdio>
#include <cstring>

#include "common/strings.h"

#include "viewer/display/line.h"
#include "viewer/navigation/jump.h"
#include "viewer/input/linenum.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"

char *tag_file_name;

namespace {

char tags_line[200];
const char *tag_search_text = "";

// Take the file name and search text of a candidate line in place; false
// when the line lacks one of them.
bool take_fields(char *p)
{
    while (*p && !is_blank(*p))
        p++;
    while (is_blank(*p))
        p++;
    if (!*p)
        return false;
    char *name = p;
    while (*p && !is_blank(*p))
        p++;
    if (!*p)
        return false;
    *p++ = '\0';
    while (is_blank(*p))
        p++;
    if (!*p)
        return false;
    char delimiter = *p++;
    if (*p == '^')
        p++;
    char *text = p;
    while (*p && *p != delimiter)
        p++;
    if (p > text && p[-1] == '$')
        p--;
    *p = '\0';
    tag_file_name = name;
    tag_search_text = text;
    return true;
}

} // namespace

void tag_lookup(const char *tag)
{
    tag_file_name = nullptr;
    FILE *f = fopen("tags", "r");
    if (!f) {
        show_error("No tags file");
        return;
    }
    size_t len = strlen(tag);
    while (fgets(tags_line, sizeof tags_line, f)) {
        if (strncmp(tags_line, tag, len) != 0 || !is_blank(tags_line[len]))
            continue;
        if (take_fields(tags_line + len)) {
            fclose(f);
            return;
        }
    }
    fclose(f);
    show_error("No such tag in tags file");
}

int tag_locate()
{
    int64_t line = linenum_of(0);
    file_pos p = 0;
    for (;;) {
        if (pending_signals)
            return 1;
        file_pos start = p;
        p = raw_line_next(p);
        if (p == NO_POSITION) {
            show_error("Tag not found");
            return 1;
        }
        // Pieces of a long line share its number.
        bool new_line = buf_newline_before(p);
        if (line != 0 && new_line)
            line++;
        if (opt_n && new_line)
            linenum_add(line, p);
        if (strcmp(raw_line_text, tag_search_text) == 0) {
            goto_position(start);
            return 0;
        }
    }
}
