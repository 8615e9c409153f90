// The history file from arbitrary bytes: read when history is first used,
// replaced by another viewer's before the exit or not, texts of any bytes
// typed meanwhile, saved, and read again. What is saved must be exactly
// what a plain reading of the file format and the merge rules gives: the
// entries found at exit, then those typed, each text once where it was
// last given, the newest HISTORY_LIMIT of each kind; a run that typed
// nothing leaves the file as it was.
//
// Input (FuzzedDataProvider): the file at first use, whether another
// viewer replaced it, the file at exit, then texts typed with their kinds.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/fuzz/support.h"
#include "tests/unit/fixtures.h"
#include "viewer/control/history.h"

namespace {

// The kind bytes in the order of history_kind: the file format, written
// out here so that the model does not take it from the code it checks.
constexpr char KIND_BYTES[] = "/!:*";
static_assert(sizeof KIND_BYTES - 1 == HISTORY_KINDS);
// The longest line read: a kind byte and every byte of an entry escaped.
constexpr size_t LINE_LIMIT = 1 + 2 * HISTORY_ENTRY_MAX + 1;

using history = std::array<std::vector<std::string>, HISTORY_KINDS>;

bool acceptable(int kind, const std::string &text)
{
    return kind >= 0 && kind < HISTORY_KINDS && !text.empty() &&
           text.size() <= static_cast<size_t>(HISTORY_ENTRY_MAX) &&
           text.find('\0') == std::string::npos;
}

// Each text once, where it was last given; the newest HISTORY_LIMIT.
void merge_in(std::vector<std::string> &list, const std::string &text)
{
    list.erase(std::remove(list.begin(), list.end(), text), list.end());
    list.push_back(text);
    if (list.size() > static_cast<size_t>(HISTORY_LIMIT))
        list.erase(list.begin());
}

// The entries of a file as the format describes them, merged as at exit.
history entries_of(const std::string &bytes)
{
    history found;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        const char *kind_byte = line.size() > 1 ? strchr(KIND_BYTES, line[0]) : nullptr;
        if (!kind_byte || line[0] == '\0' || line.size() > LINE_LIMIT)
            continue;
        std::string text;
        bool good = true;
        for (size_t i = 1; i < line.size() && good; i++) {
            if (line[i] != '\\') {
                text += line[i];
            } else if (i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == '\\')) {
                text += line[++i] == 'n' ? '\n' : '\\';
            } else {
                good = false;
            }
        }
        int kind = static_cast<int>(kind_byte - KIND_BYTES);
        if (good && acceptable(kind, text))
            merge_in(found[kind], text);
    }
    return found;
}

std::string encoded(const history &h)
{
    std::string bytes;
    for (int kind = 0; kind < HISTORY_KINDS; kind++) {
        for (const std::string &text : h[kind]) {
            bytes += KIND_BYTES[kind];
            for (char c : text) {
                if (c == '\n' || c == '\\')
                    bytes += '\\';
                bytes += c == '\n' ? 'n' : c;
            }
            bytes += '\n';
        }
    }
    return bytes;
}

// On a file system in memory where there is one: a save syncs the file.
std::string history_file()
{
    struct stat st;
    std::string dir = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                          ? "/dev/shm"
                          : fuzz_scratch_setup();
    return dir + "/quorel_fuzz_history." + std::to_string(getpid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Removed at exit through copies that outlive the strings.
    static char file_name[512], lock_name[512];
    static const std::string path = [] {
        fuzz_scratch_setup();
        std::string p = history_file();
        setenv("QUOREL_HISTORY", p.c_str(), 1);
        unsetenv("QUOREL_SECURE");
        snprintf(file_name, sizeof file_name, "%s", p.c_str());
        snprintf(lock_name, sizeof lock_name, "%s.lock", p.c_str());
        atexit([] {
            unlink(file_name);
            unlink(lock_name);
        });
        return p;
    }();
    FuzzedDataProvider in(data, size);
    std::string at_load = in.ConsumeRandomLengthString(4096);
    std::string at_exit = in.ConsumeBool() ? in.ConsumeRandomLengthString(4096) : at_load;

    write_bytes(path, at_load);
    history_load();
    history expected = entries_of(at_exit);
    bool typed = false;
    while (in.remaining_bytes() > 0) {
        int kind = in.ConsumeIntegralInRange<int>(-1, HISTORY_KINDS);
        std::string text = in.ConsumeRandomLengthString(HISTORY_ENTRY_MAX + 8);
        history_add(kind, text.data(), static_cast<int>(text.size()));
        if (acceptable(kind, text)) {
            merge_in(expected[kind], text);
            typed = true;
        }
    }
    write_bytes(path, at_exit);
    history_save();
    std::string saved = read_bytes(path);
    if (!typed) {
        if (saved != at_exit)
            fuzz_fail("a run that typed nothing changed the file");
        return 0;
    }
    if (saved != encoded(expected))
        fuzz_fail("the saved file is not the merge", saved);
    if (access((path + "." + std::to_string(getpid())).c_str(), F_OK) == 0)
        fuzz_fail("the new file was left beside the old one");

    // Read again, every entry comes back as it was saved.
    history_load();
    for (int kind = 0; kind < HISTORY_KINDS; kind++) {
        if (history_count(kind) != static_cast<int>(expected[kind].size()))
            fuzz_fail("an entry saved is not read back", std::to_string(kind));
        for (int i = 0; i < history_count(kind); i++) {
            int n;
            const char *text = history_entry(kind, i, &n);
            if (std::string(text, static_cast<size_t>(n)) != expected[kind][static_cast<size_t>(i)])
                fuzz_fail("an entry reads back changed", expected[kind][static_cast<size_t>(i)]);
        }
    }
    return 0;
}
