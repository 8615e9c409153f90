// A command's two streams merged as one input: the order they come in,
// lines kept whole, and which lines came from standard error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/input/exec.h"

namespace {

struct merge_case {
    const char *script;
    const char *merged;
    const char *error_lines;   // per line of merged: 'e' from standard error
    const char *ended;
};

const merge_case MERGE_CASES[] = {
    {"echo a; sleep 0.05; echo bb >&2; sleep 0.05; echo c; sleep 0.05; echo dd >&2; echo ee >&2",
     "a\nbb\nc\ndd\nee\n", "-e-ee", "exit 0"},
    // A line begun on one stream waits for its end while the other's
    // whole line goes out.
    {"printf ab; sleep 0.02; echo E >&2; sleep 0.02; echo cd", "E\nabcd\n", "e-", "exit 0"},
    // An unended last line, and one that waits long for its end, still go
    // out, where they came.
    {"printf 'ask: ' >&2; sleep 0.3; echo yes; printf tail; exit 3", "ask: yes\ntail", "e-",
     "exit 3"},
    {"echo last >&2; kill -TERM $$", "last\n", "e", "signal SIGTERM"},
};

TEST(ExecMerge, StreamsInArrivalOrderWithErrorLinesKnown)
{
    for (const merge_case &c : MERGE_CASES) {
        std::vector<char *> argv = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                                    const_cast<char *>(c.script), nullptr};
        ASSERT_EQ(exec_start(argv.data()), 0) << c.script;
        std::string merged;
        char chunk[4096];
        int n;
        while ((n = exec_read(static_cast<int64_t>(merged.size()), chunk, sizeof chunk, true)) > 0)
            merged.append(chunk, static_cast<size_t>(n));
        EXPECT_EQ(n, 0) << c.script;
        EXPECT_EQ(merged, c.merged) << c.script;
        std::string marks;
        for (size_t start = 0; start < merged.size(); start = merged.find('\n', start) + 1) {
            marks += input_from_stderr(static_cast<int64_t>(start)) ? 'e' : '-';
            if (merged.find('\n', start) == std::string::npos)
                break;
        }
        EXPECT_EQ(marks, c.error_lines) << c.script;
        ASSERT_NE(exec_status_text(), nullptr);
        EXPECT_STREQ(exec_status_text(), c.ended) << c.script;
        exec_stop();
        EXPECT_FALSE(input_from_stderr(0)) << "forgotten with the command";
    }
    std::vector<char *> missing = {const_cast<char *>("no-such-command-here"), nullptr};
    EXPECT_EQ(exec_start(missing.data()), ENOENT);
}

} // namespace
