// mivokey's reading of key-binding source. The compiler is one file with
// its own main; it is compiled into this target with main renamed, so the
// fuzzer reaches its parser and table as they are. A source compiled
// without errors must give one well-formed entry per binding line.
#include <algorithm>
#include <cstdio>
#include <string>

#define main mivokey_main
#include "keycomp/mivokey.cc"
#undef main

#include "tests/fuzz/support.h"

namespace {

// Lines that are neither blank nor comments, counted over the pieces that
// a read of LINE_SIZE bytes hands out.
int binding_lines(const uint8_t *data, size_t size)
{
    int count = 0;
    std::string_view source(reinterpret_cast<const char *>(data), size);
    for (const std::string &piece : fuzz_fgets_pieces(source, LINE_SIZE - 1)) {
        std::string line = fuzz_c_string(piece);
        size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '\n' && line[first] != '#')
            count++;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;   // fmemopen wants a buffer
    table_length = line_number = error_count = 0;
    // The stream is opened and closed outside, since an exit leaves the
    // body early.
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (!in)
        fuzz_fail("fmemopen failed");
    int status = fuzz_guarded([in] { compile_source(in); });
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
        int code = table[pos + keys + 1];
        if (std::ranges::none_of(action_names,
                                 [code](const action_name &a) { return a.code == code; }))
            fuzz_fail("code without a name", std::to_string(code));
        pos += keys + 2;
    }
    int lines = binding_lines(data, size);
    if (entries != lines)
        fuzz_fail("entries and binding lines differ",
                  std::to_string(entries) + " / " + std::to_string(lines));
    return 0;
}
