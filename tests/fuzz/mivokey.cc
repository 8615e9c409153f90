// mivokey's reading of key-binding source. The compiler is one file with
// its own main; it is compiled into this target with main renamed, so the
// fuzzer reaches its parser and table as they are. A source compiled
// without errors must give one well-formed entry per binding line.
#include <cstdio>
#include <cstring>
#include <string>

#define main mivokey_main
#include "keycomp/mivokey.cc"
#undef main

#include "tests/fuzz/support.h"

namespace {

// The stream is opened and closed outside, since an exit leaves this early.
void compile(void *in)
{
    compile_source(static_cast<FILE *>(in));
}

// Lines that are neither blank nor comments, counted over the pieces that
// a read of LINE_SIZE bytes hands out.
int binding_lines(const uint8_t *data, size_t size)
{
    int count = 0;
    for (size_t pos = 0; pos < size;) {
        size_t end = pos;
        while (end < size && end - pos < LINE_SIZE - 1 && data[end++] != '\n') {
        }
        std::string piece(reinterpret_cast<const char *>(data) + pos, end - pos);
        piece.resize(strlen(piece.c_str()));
        size_t first = piece.find_first_not_of(" \t");
        if (first != std::string::npos && piece[first] != '\n' && piece[first] != '#')
            count++;
        pos = end;
    }
    return count;
}

bool named_code(int code)
{
    for (const action_name &a : action_names)
        if (a.code == code)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;   // fmemopen wants a buffer
    table_length = 0;
    line_number = 0;
    error_count = 0;
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (!in)
        fuzz_fail("fmemopen failed");
    int status = fuzz_guarded(compile, in);
    fclose(in);
    if (status == 1) {
        if (table_length < USER_KEY_TABLE_SIZE)
            fuzz_fail("gave up with room left", std::to_string(table_length));
        return 0;
    }
    if (status != FUZZ_RETURNED)
        fuzz_fail("unexpected exit", std::to_string(status));
    if (table_length > TABLE_ROOM)
        fuzz_fail("table overran its room", std::to_string(table_length));
    if (error_count > 0)
        return 0;

    int entries = 0;
    for (int pos = 0; pos < table_length; entries++) {
        int keys = 0;
        while (pos + keys < table_length && table[pos + keys] != 0)
            keys++;
        if (keys < 1 || keys > MAX_KEY_BYTES)
            fuzz_fail("key string of a bad length", std::to_string(keys));
        if (pos + keys + 1 >= table_length)
            fuzz_fail("entry cut short");
        if (!named_code(table[pos + keys + 1]))
            fuzz_fail("code without a name", std::to_string(table[pos + keys + 1]));
        pos += keys + 2;
    }
    int lines = binding_lines(data, size);
    if (entries != lines)
        fuzz_fail("entries and binding lines differ",
                  std::to_string(entries) + " / " + std::to_string(lines));
    return 0;
}
