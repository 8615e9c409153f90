// The user key table loaded from arbitrary bytes, then arbitrary keys fed
// to the decoder. Whatever the user table decides is checked against a
// plain reading of its entries; what it leaves to the built-in table must
// at least be a code the command loop knows how to treat.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>
#include <vector>

#include "common/keys.h"
#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/decode.h"
#include "viewer/terminal/message.h"

namespace {

// The decoder holds at most this many keys of one sequence.
constexpr size_t TYPED_LIMIT = 31;

struct entry {
    std::string keys;
    int code;
};

// The entries of a table in key-file format; a last entry cut short by the
// end of the bytes is no entry.
std::vector<entry> entries_of(const std::string &table)
{
    std::vector<entry> entries;
    size_t pos = 0;
    while (pos < table.size()) {
        size_t zero = table.find('\0', pos);
        if (zero == std::string::npos || zero + 1 >= table.size())
            break;
        entries.push_back({table.substr(pos, zero - pos), static_cast<signed char>(table[zero + 1])});
        pos = zero + 2;
    }
    return entries;
}

// The code the user table gives the typed keys, ACTION_NEED_MORE for a
// prefix, or none. The first entry that the typed keys equal or begin
// decides; one bound to ACTION_NOT_FOUND hands the keys on to the built-in
// table.
std::optional<int> look_up(const std::vector<entry> &entries, const std::string &typed)
{
    for (const entry &e : entries) {
        if (e.keys == typed)
            return e.code == ACTION_NOT_FOUND ? std::nullopt : std::optional<int>(e.code);
        if (e.keys.size() > typed.size() && e.keys.starts_with(typed))
            return ACTION_NEED_MORE;
    }
    return std::nullopt;
}

// ESC [ or ESC O begins a control sequence, which the decoder takes whole:
// parameter and intermediate bytes go on until a final byte, also past what
// its buffer holds.
bool control_sequence(const std::string &typed)
{
    return typed.size() >= 2 && typed[0] == '\x1b' && (typed[1] == '[' || typed[1] == 'O');
}

bool sequence_goes_on(unsigned char key)
{
    return key >= 0x20 && key <= 0x3F;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    bool have_file = provider.ConsumeBool();
    std::string file = provider.ConsumeRandomLengthString(260);
    std::string keys = provider.ConsumeRemainingBytesAsString();

    fuzz_scratch_file(USER_KEY_FILE, have_file, file);

    // The viewer reads at most the table's size and checks only that the
    // last key string read is terminated.
    std::string table = file.substr(0, USER_KEY_TABLE_SIZE);
    bool accepted = table.size() >= 3 && table[table.size() - 2] == '\0';
    int errors_before = error_count;
    keys_load_user();
    if (error_count - errors_before != (have_file && !accepted ? 1 : 0))
        fuzz_fail("key file judged wrongly", accepted ? "valid file refused" : "bad file taken");
    std::vector<entry> user = have_file && accepted ? entries_of(table) : std::vector<entry>{};

    key_decode_reset();
    std::string typed;
    for (unsigned char key : keys) {
        if (typed.size() >= TYPED_LIMIT) {
            bool sequence = control_sequence(typed);
            if (sequence) {
                int code = key_decode(key);
                bool goes_on = sequence_goes_on(key);
                if (code != (goes_on ? ACTION_NEED_MORE : ACTION_NOT_FOUND))
                    fuzz_fail("a long control sequence not taken whole", std::to_string(code));
                if (!goes_on)
                    typed.clear();
                continue;
            }
            typed.clear();
        }
        typed += static_cast<char>(key);
        int code = key_decode(key);
        auto fail = [&](const char *what, const std::string &more) {
            std::string shown;
            for (unsigned char c : typed)
                shown += std::to_string(c) + " ";
            fuzz_fail(what, "keys " + shown + "gave " + std::to_string(code) + more);
        };
        std::optional<int> user_code = look_up(user, typed);
        if (!user_code) {
            if (code < ACTION_REPEAT_SEARCH || code > ACTION_NOT_FOUND)
                fail("built-in table gave an unknown code", "");
        } else if (*user_code != ACTION_NEED_MORE) {
            if (code != *user_code)
                fail("user binding not honoured", ", bound to " + std::to_string(*user_code));
        } else if (code != (typed.size() < TYPED_LIMIT ? ACTION_NEED_MORE : ACTION_NOT_FOUND)) {
            fail("user prefix not waited on", "");
        }
        if (code != ACTION_NEED_MORE)
            typed.clear();
    }
    return 0;
}
