#include "tests/e2e/viewer_test.h"

#include <filesystem>
#include <functional>
#include <utility>

void viewer_test::SetUp()
{
    test_dir = make_temp_dir();
    ASSERT_FALSE(test_dir.empty());
}

void viewer_test::TearDown()
{
    std::error_code ec;
    std::filesystem::remove_all(test_dir, ec);
}

std::string viewer_test::path(const std::string &name) const
{
    return test_dir + "/" + name;
}

std::string viewer_test::file(const std::string &name, const std::string &bytes) const
{
    write_file(path(name), bytes);
    return path(name);
}

std::string viewer_test::subdir(const std::string &name) const
{
    std::filesystem::create_directory(path(name));
    return path(name);
}

const std::string &viewer_test::home()
{
    if (home_dir.empty())
        home_dir = subdir("home");
    return home_dir;
}

void viewer_test::compile_keys(const std::string &source)
{
    run_result r = run_program({MIVOKEY_BIN, "-o", home() + "/.mivo"}, feed(source));
    ASSERT_EQ(r.status, 0) << r.err;
}

void viewer_test::raw_keys(const std::string &bytes)
{
    write_file(home() + "/.mivo", bytes);
}

pty_options viewer_test::window(int rows, int cols) const
{
    pty_options o;
    o.rows = rows ? rows : 10;
    o.cols = cols ? cols : suite_cols;
    o.cwd = test_dir;
    return o;
}

bool viewer_test::start(pty_session &s, const std::vector<std::string> &args, pty_options o)
{
    // First, so that a HOME the test names itself still wins.
    if (!home_dir.empty())
        o.env.insert(o.env.begin(), "HOME=" + home_dir);
    std::vector<std::string> argv{QUOREL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return s.start(argv, o);
}

std::string numbered(int from, int to, const std::string &prefix, const std::string &stop)
{
    std::string s;
    for (int i = from; i <= to; i++)
        s += prefix + " " + std::to_string(i) + stop + "\n";
    return s;
}

std::vector<std::string> args_of(std::vector<std::string> options,
                                 const std::vector<std::string> &more)
{
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

std::string tag(const std::string &prefix, int n)
{
    return prefix + " " + std::to_string(n) + ".";
}

std::string message(const std::string &text)
{
    return text + "  (press RETURN)";
}

run_options feed(const std::string &input, std::vector<std::string> env)
{
    run_options o;
    o.input = input;
    o.env = std::move(env);
    return o;
}

namespace {

::testing::AssertionResult row_matches(pty_session &s, int row, const char *how,
                                       const std::string &text,
                                       const std::function<bool(const std::string &)> &pred)
{
    if (s.wait_for_row(row, pred))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "row " << row << " " << how << " \"" << text
                                         << "\"; the screen:\n" << s.screen_text();
}

} // namespace

::testing::AssertionResult row_is(pty_session &s, int row, const std::string &text)
{
    return row_matches(s, row, "is not", text, [&](const std::string &t) { return t == text; });
}

::testing::AssertionResult top_is(pty_session &s, const std::string &text)
{
    return row_is(s, 0, text);
}

::testing::AssertionResult bottom_is(pty_session &s, const std::string &text)
{
    return row_is(s, s.rows() - 1, text);
}

::testing::AssertionResult bottom_has(pty_session &s, const std::string &text)
{
    return row_matches(s, s.rows() - 1, "lacks", text, [&](const std::string &t) {
        return t.find(text) != std::string::npos;
    });
}

::testing::AssertionResult bottom_ends_with(pty_session &s, const std::string &text)
{
    return row_matches(s, s.rows() - 1, "does not end with", text, [&](const std::string &t) {
        return t.size() >= text.size() &&
               t.compare(t.size() - text.size(), text.size(), text) == 0;
    });
}

bool rows_are(pty_session &s, const std::vector<std::string> &want)
{
    return s.wait_for([&] {
        for (size_t r = 0; r < want.size(); r++)
            if (s.row_text(static_cast<int>(r)) != want[r])
                return false;
        return true;
    });
}

::testing::AssertionResult dismiss(pty_session &s)
{
    s.send("\r");
    if (s.wait_for([&] {
            return s.row_text(s.rows() - 1).find("(press RETURN)") == std::string::npos;
        }) && s.wait_quiet())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "message not dismissed:\n" << s.screen_text();
}

::testing::AssertionResult gives_message(pty_session &s, std::string_view keys,
                                         const std::string &text)
{
    s.send(keys);
    if (auto r = bottom_is(s, message(text)); !r)
        return r;
    s.send("\r");
    return bottom_is(s, ":");
}

void expect_exit(pty_session &s, int status, int timeout_ms)
{
    EXPECT_EQ(s.wait_exit(timeout_ms), status);
    EXPECT_TRUE(s.modes_restored());
}

void quit(pty_session &s, int timeout_ms)
{
    s.send("q");
    expect_exit(s, 0, timeout_ms);
}
