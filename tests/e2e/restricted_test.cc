// Whole runs of the viewer under QUOREL_SECURE=1: every command that would
// reach beyond the files it was given is refused and changes nothing,
// while help and the user's own key bindings still work.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

class Restricted : public viewer_test {};

TEST_F(Restricted, RefusedCommandsChangeNothing)
{
    const std::string refused = "Command not available";
    const std::vector<std::string> keys = {
        "!", "v", "E", ":e", pty_session::ctrl('x') + pty_session::ctrl('v'),
        "x",                            // the user's binding of the shell
        "-lcopy\r", "-Lcopy\r", "_l", "-tmain\r", "s",
    };
    compile_keys("x shell\n");
    file("tags", "main\tother\t/main/\n");
    file("other", "main\n");
    pty_session s;
    pty_options o = window();
    // A shell or an editor that ran would leave the file "ran" behind.
    o.env = {"QUOREL_SECURE=1", "EDITOR=touch ran", "SHELL=/bin/sh"};
    ASSERT_TRUE(start(s, {"-lcopy", "-tmain", file("f", numbered(1, 40))}, o));
    // Refused at start too, before the first screen, which waits for RETURN.
    ASSERT_TRUE(s.wait_for_text(refused + "\n" + refused));
    s.send("\r3j");
    ASSERT_TRUE(top_is(s, "line 4."));
    for (const std::string &k : keys) {
        SCOPED_TRACE(k);
        s.send(k);
        ASSERT_TRUE(bottom_is(s, message(refused)));
        ASSERT_TRUE(dismiss(s));
        EXPECT_EQ(s.row_text(0), "line 4.");
    }
    // Help still works, in a viewer just as restricted.
    s.send("h");
    ASSERT_TRUE(bottom_is(s, "HELP -- Press RETURN for more, or q when done"));
    s.send("!");
    ASSERT_TRUE(bottom_is(s, message(refused)));
    s.send("\rq");
    ASSERT_TRUE(bottom_is(s, message("End of help")));
    quit(s);
    EXPECT_FALSE(std::filesystem::exists(path("ran")));
    EXPECT_FALSE(std::filesystem::exists(path("copy")));
}

} // namespace
