// What the end-to-end test suites share: a fixture with a directory of its
// own for each test, the viewer started there in a pseudo-terminal, and
// waits for what the screen should come to show.
//
// Usage:
//
//     class Paging : public viewer_test {
//     protected:
//         Paging() : viewer_test(40) {}          // the suite's width
//     };
//
//     TEST_F(Paging, Something)
//     {
//         compile_keys("q repaint\n");           // optional: a user key file
//         pty_session s;
//         ASSERT_TRUE(start(s, {file("f", numbered(1, 30))}));
//         ASSERT_TRUE(top_is(s, "line 1."));
//         s.send("G");
//         ASSERT_TRUE(bottom_is(s, "(END)"));
//         quit(s);                               // "q", status 0, modes back
//     }
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/subprocess.h"
#include "tests/e2e/terminal.h"

class viewer_test : public ::testing::Test {
protected:
    // cols: the width of the suite's windows unless a test asks for another.
    explicit viewer_test(int cols = 80) : suite_cols(cols) {}

    void SetUp() override;
    void TearDown() override;

    // The test's own directory, removed with all it holds after the test.
    const std::string &dir() const { return test_dir; }
    std::string path(const std::string &name) const;
    // Write a file in the test's directory; its path.
    std::string file(const std::string &name, const std::string &bytes) const;
    // Make a directory in the test's directory; its path.
    std::string subdir(const std::string &name) const;

    // A HOME of the test's own, made on first use; the viewer is given it
    // from then on, in place of the empty one the harness makes.
    const std::string &home();
    // Compile binding text into the key file in home().
    void compile_keys(const std::string &source);
    // Bytes written as they are to the key file in home().
    void raw_keys(const std::string &bytes);

    // A terminal of rows x cols (0: 10 rows, the suite's width) whose
    // program runs in the test's directory.
    pty_options window(int rows = 0, int cols = 0) const;
    // Start the viewer with these arguments (options and files).
    bool start(pty_session &s, const std::vector<std::string> &args, pty_options o);
    bool start(pty_session &s, const std::vector<std::string> &args) { return start(s, args, window()); }

private:
    int suite_cols;
    std::string test_dir;
    std::string home_dir;           // empty until home() is used
};

// "prefix n." for n from `from` to `to`, one a line. The full stop keeps
// "line 1." from matching line 12; `stop` replaces it.
std::string numbered(int from, int to, const std::string &prefix = "line",
                     const std::string &stop = ".");
// Options and then the arguments after them, as one list.
std::vector<std::string> args_of(std::vector<std::string> options,
                                 const std::vector<std::string> &more);
// One line of numbered(), without its newline.
std::string tag(const std::string &prefix, int n);
// A bottom-line message as the viewer leaves it, waiting for RETURN.
std::string message(const std::string &text);
// Standard input from a pipe holding `input`, with these environment changes.
run_options feed(const std::string &input, std::vector<std::string> env = {});

// Waits for a row's text; on failure they show the screen.
::testing::AssertionResult row_is(pty_session &s, int row, const std::string &text);
::testing::AssertionResult top_is(pty_session &s, const std::string &text);
::testing::AssertionResult bottom_is(pty_session &s, const std::string &text);
::testing::AssertionResult bottom_has(pty_session &s, const std::string &text);
::testing::AssertionResult bottom_ends_with(pty_session &s, const std::string &text);
// Waits until the rows from the top are these.
bool rows_are(pty_session &s, const std::vector<std::string> &want);

// Dismiss a message with RETURN and wait until the prompt has replaced it
// and the output has settled.
::testing::AssertionResult dismiss(pty_session &s);

// Send keys that end in this message; RETURN dismisses it and the short
// prompt ":" comes back.
::testing::AssertionResult gives_message(pty_session &s, std::string_view keys,
                                         const std::string &text);

// The viewer ends with this status and gives the terminal its modes back.
void expect_exit(pty_session &s, int status, int timeout_ms = 5000);
// Quit with "q": status 0 and the modes restored.
void quit(pty_session &s, int timeout_ms = 5000);
