// mivokey: compile key-binding text into the viewer's user key file.
//
// Each input line binds a key sequence to a named action. The whole input is
// read and every error counted; the key file is written only when there were
// none, so a faulty source never replaces a working .mivo.
#include "common/keys.h"
#include "common/strings.h"
#include "common/version.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// One read takes at most LINE_SIZE - 1 characters; longer lines arrive in pieces.
constexpr int LINE_SIZE = 100;
constexpr int MAX_KEY_BYTES = 16;
// A key byte is stored only below USER_KEY_TABLE_SIZE, so the last entry's
// 0 and code can reach two bytes past it.
constexpr int TABLE_ROOM = USER_KEY_TABLE_SIZE + 2;

std::array<unsigned char, TABLE_ROOM> table;   // entries in key-file format
int table_length;
int line_number;    // counts every piece read, comments and blanks too
int error_count;    // errors so far; any at all means no output

[[noreturn]] void print_usage()
{
    fputs("usage: mivokey [-o output] [input]\n", stderr);
    exit(1);
}

// --help: the usage, what the program does, and the names it accepts.
[[noreturn]] void print_help()
{
    fputs("usage: mivokey [-o output] [input]\n"
          "Compiles key bindings, one \"keys action\" a line, into the key file\n"
          "that quorel reads at start: $HOME/.mivo, or the output named with -o.\n"
          "In keys, ^X is a control key, \\nnn a byte in octal, \\x the character x.\n"
          "Actions:",
          stdout);
    int column = 8;
    for (const action_name &a : action_names) {
        if (column + 1 + a.name.size() > 78) {
            fputs("\n ", stdout);
            column = 1;
        }
        printf(" %.*s", static_cast<int>(a.name.size()), a.name.data());
        column += 1 + static_cast<int>(a.name.size());
    }
    fputs("\n", stdout);
    exit(fflush(stdout) == 0 ? 0 : 1);
}

bool is_octal(char c)
{
    return c >= '0' && c <= '7';
}

// Decode one key byte at *cursor and advance past what it used. A '^' or
// '\' with nothing after it on the line stands for itself, so the cursor
// never passes the line's terminator.
int parse_key_string(const char **cursor)
{
    const char *p = *cursor;
    int byte;
    if (p[0] == '^' && p[1] != '\0') {
        byte = p[1] & 31;
        p += 2;
    } else if (p[0] == '\\' && is_octal(p[1])) {
        byte = 0;
        p++;
        for (int digits = 0; digits < 3 && is_octal(*p); digits++)
            byte = byte * 8 + (*p++ - '0');
        byte &= 0xff;
    } else if (p[0] == '\\' && p[1] != '\0') {
        byte = static_cast<unsigned char>(p[1]);
        p += 2;
    } else {
        byte = static_cast<unsigned char>(p[0]);
        p++;
    }
    *cursor = p;
    return byte;
}

// Compile one piece of input (at most LINE_SIZE - 1 characters) into the table.
void compile_line(char *line)
{
    char *p = line;
    while (is_blank(*p))
        p++;
    line_number++;
    if (char *nl = strchr(p, '\n'))
        *nl = '\0';
    if (*p == '\0' || *p == '#')
        return;

    // The key runs to the first blank. The table limit is checked before the
    // length limit: running out of room ends everything at once.
    const char *cursor = p;
    int key_bytes = 0;
    while (*cursor != '\0' && !is_blank(*cursor)) {
        if (table_length >= USER_KEY_TABLE_SIZE) {
            fprintf(stderr, "too many commands, line %d\n", line_number);
            exit(1);
        }
        if (key_bytes == MAX_KEY_BYTES) {
            fprintf(stderr, "command too long on line %d\n", line_number);
            error_count++;
            break;
        }
        int byte = parse_key_string(&cursor);
        // A 0 would end the key string early in the file; the viewer could
        // never match what the user wrote.
        if (byte == 0) {
            fprintf(stderr, "null key byte on line %d\n", line_number);
            error_count++;
            continue;
        }
        table[table_length++] = static_cast<unsigned char>(byte);
        key_bytes++;
    }
    table[table_length++] = 0;

    // After an over-long key the cursor still stands inside it, so the
    // remaining key characters are read as the action name.
    if (*cursor == '\0') {
        fprintf(stderr, "missing whitespace on line %d\n", line_number);
        error_count++;
        return;
    }
    while (is_blank(*cursor))
        cursor++;
    // The name stops at '#', so a trailing comment needs no blank before it.
    const char *end = cursor;
    while (*end != '\0' && !is_blank(*end) && *end != '#')
        end++;
    std::string_view name(cursor, static_cast<size_t>(end - cursor));
    int code = action_lookup(name);
    if (code < 0) {
        fprintf(stderr, "unknown action <%.*s> on line %d\n", static_cast<int>(name.size()),
                name.data(), line_number);
        error_count++;
        return;
    }
    table[table_length++] = static_cast<unsigned char>(code);
}

// Compile the whole input, piece by piece as fgets hands it out.
void compile_source(FILE *in)
{
    char line[LINE_SIZE];
    while (fgets(line, LINE_SIZE, in) != nullptr)
        compile_line(line);
}

// Write the table through the named path (a symlinked .mivo stays a link).
// Any failure, including one that only shows at close, ends with status 1.
[[noreturn]] void write_table(const char *name)
{
    FILE *out = fopen(name, "w");
    if (out == nullptr) {
        perror(name);
        exit(1);
    }
    size_t length = static_cast<size_t>(table_length);
    bool ok = fwrite(table.data(), 1, length, out) == length;
    if (fclose(out) != 0)
        ok = false;
    if (!ok) {
        perror(name);
        exit(1);
    }
    exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    // The input, if any, must come last; a separate -o always takes the
    // next argument as its name, whatever it looks like.
    const char *output_name = nullptr;
    const char *input_name = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--help") == 0)
            print_help();
        if (strcmp(arg, "--version") == 0) {
            puts("mivokey version " MIVO_VERSION);
            return fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg[0] == '-') {
            if (arg[1] != 'o')
                print_usage();
            if (arg[2] != '\0')
                output_name = arg + 2;
            else if (i + 1 < argc)
                output_name = argv[++i];
            else
                print_usage();
        } else {
            if (i != argc - 1)
                print_usage();
            input_name = arg;
        }
    }

    FILE *in = stdin;
    if (input_name != nullptr) {
        in = fopen(input_name, "r");
        if (in == nullptr) {
            perror(input_name);
            return 1;
        }
    }

    compile_source(in);
    // A read that fails (a directory, an I/O error) must not pass for an
    // empty input and replace the key file with nothing.
    if (ferror(in)) {
        perror(input_name != nullptr ? input_name : "standard input");
        return 1;
    }

    // HOME is needed only once there is something to write.
    if (error_count > 0) {
        fprintf(stderr, "%d errors; no output produced\n", error_count);
        return 1;
    }

    if (output_name != nullptr)
        write_table(output_name);
    const char *home = getenv("HOME");
    if (home == nullptr) {
        fputs("cannot find $HOME\n", stderr);
        return 1;
    }
    char *path = user_key_path(home);
    if (path == nullptr) {
        fputs("cannot allocate memory\n", stderr);
        return 1;
    }
    write_table(path);
}
