#include "viewer/control/history.h"

#include "tests/unit/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char *VARIABLES[] = {"QUOREL_HISTORY", "QUOREL_SECURE", "XDG_STATE_HOME", "HOME"};

// Every test gets a state directory of its own that does not exist yet.
class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : VARIABLES)
            saved.push_back(env_save(name));
        dir = temp_dir("history-test-");
        ASSERT_FALSE(dir.empty());
        unsetenv("QUOREL_HISTORY");
        unsetenv("QUOREL_SECURE");
        setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        file = dir + "/state/quorel/history";
    }

    void TearDown() override
    {
        remove_tree(dir);
        for (const saved_env &s : saved)
            env_restore(s);
        history_load();
    }

    std::vector<std::string> entries(int kind)
    {
        std::vector<std::string> list;
        for (int i = 0; i < history_count(kind); i++) {
            int n;
            const char *text = history_entry(kind, i, &n);
            list.emplace_back(text, static_cast<size_t>(n));
        }
        return list;
    }

    void add(int kind, const std::string &text)
    {
        history_add(kind, text.data(), static_cast<int>(text.size()));
    }

    std::vector<saved_env> saved;
    std::string dir, file;
};

std::string said_at_exit()
{
    return captured(2, history_report_failure);
}

TEST_F(HistoryTest, OddBytesSurviveTwoRunsInAPrivateFile)
{
    history_load();
    EXPECT_EQ(history_path(), file);
    const std::vector<std::string> odd = {
        "plain", "two\nlines", "back\\slash", "\\n as typed",
        "\x1b[31mred\x07", "\xff\xfe high", "\r\t",
    };
    for (const std::string &s : odd)
        add(HISTORY_SEARCH, s);
    // A NUL could not be read back: such a text is refused.
    add(HISTORY_SEARCH, std::string("nul\0byte", 8));
    EXPECT_EQ(history_count(HISTORY_SEARCH), static_cast<int>(odd.size()));
    add(HISTORY_SHELL, "ls -l %");
    add(HISTORY_EXAMINE, "/tmp/a file");
    history_save();

    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir + "/state/quorel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((dir + "/state").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    history_load();
    EXPECT_EQ(entries(HISTORY_SEARCH), odd);
    EXPECT_EQ(entries(HISTORY_SHELL), std::vector<std::string>{"ls -l %"});
    EXPECT_EQ(entries(HISTORY_EXAMINE), std::vector<std::string>{"/tmp/a file"});
}

TEST_F(HistoryTest, KeepsTheNewestHundredAndNoImmediateRepeats)
{
    history_load();
    for (int i = 0; i < 150; i++) {
        add(HISTORY_SHELL, "cmd" + std::to_string(i));
        add(HISTORY_SHELL, "cmd" + std::to_string(i));
    }
    add(HISTORY_SHELL, "");
    add(HISTORY_SHELL, std::string(HISTORY_ENTRY_MAX + 1, 'x'));
    history_save();
    history_load();
    std::vector<std::string> list = entries(HISTORY_SHELL);
    ASSERT_EQ(list.size(), static_cast<size_t>(HISTORY_LIMIT));
    EXPECT_EQ(list.front(), "cmd50");
    EXPECT_EQ(list.back(), "cmd149");
}

TEST_F(HistoryTest, DamagedLinesAreSkippedOneByOne)
{
    history_load();
    std::string lines = "/first\n"
                        "?unknown kind\n"
                        "/bad \\x escape\n"
                        "/ends in \\\n"
                        "\n"
                        "/" + std::string(HISTORY_ENTRY_MAX + 1, 'y') + "\n"
                        "/" + std::string(5000, 'z') + "\n"
                        "/nul" + std::string(1, '\0') + "byte\n"
                        "!second\n"
                        ":last line without its newline";
    add(HISTORY_SEARCH, "make the directories");
    history_save();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << lines;
    history_load();
    EXPECT_EQ(entries(HISTORY_SEARCH), std::vector<std::string>{"first"});
    EXPECT_EQ(entries(HISTORY_SHELL), std::vector<std::string>{"second"});
    EXPECT_EQ(entries(HISTORY_EXAMINE), std::vector<std::string>{"last line without its newline"});
}

TEST_F(HistoryTest, NamedFileOrMemoryOnly)
{
    std::string named = dir + "/deep/er/hist";
    setenv("QUOREL_HISTORY", named.c_str(), 1);
    history_load();
    EXPECT_EQ(history_path(), named);
    add(HISTORY_EXAMINE, "x");
    history_save();
    struct stat st;
    EXPECT_EQ(stat(named.c_str(), &st), 0);

    // "-", or secure mode whatever the variable names.
    std::string refused = dir + "/refused";
    for (auto [history, secure] : {std::pair{"-", "0"}, std::pair{refused.c_str(), "1"}}) {
        setenv("QUOREL_HISTORY", history, 1);
        setenv("QUOREL_SECURE", secure, 1);
        history_load();
        EXPECT_EQ(history_path(), nullptr) << history;
        add(HISTORY_SEARCH, "kept in memory");
        EXPECT_EQ(history_count(HISTORY_SEARCH), 1) << history;
        history_save();
        EXPECT_NE(stat(file.c_str(), &st), 0) << history;
        EXPECT_NE(stat(refused.c_str(), &st), 0) << history;
    }
}

// The file as this run found it when history was first used, as another
// viewer left it by the time this one quits, and as this one leaves it.
TEST_F(HistoryTest, ExitAddsWhatWasTypedAfterWhatOtherViewersSaved)
{
    std::string hundred, last_99;
    for (int i = 0; i < HISTORY_LIMIT; i++) {
        hundred += "/f" + std::to_string(i) + "\n";
        if (i > 0)
            last_99 += "/f" + std::to_string(i) + "\n";
    }
    const std::string nul_line = "/a" + std::string(1, '\0') + "b\n/c\n";
    struct merge_case {
        const char *what;
        std::string at_load, at_exit;
        std::vector<std::pair<int, std::string>> typed;
        std::string saved;
    };
    const std::vector<merge_case> cases = {
        {"another viewer's entries stay", "/old\n", "/old\n/other\n!ls\n",
         {{HISTORY_SEARCH, "mine"}, {HISTORY_SHELL, "make"}}, "/old\n/other\n/mine\n!ls\n!make\n"},
        {"each text once, where last typed", "/a\n/b\n/a\n/c\n", "/a\n/b\n/a\n/c\n",
         {{HISTORY_SEARCH, "b"}, {HISTORY_SEARCH, "d"}, {HISTORY_SEARCH, "b"}}, "/a\n/c\n/d\n/b\n"},
        {"the newest hundred", hundred, hundred, {{HISTORY_SEARCH, "new"}}, last_99 + "/new\n"},
        {"a last line without its newline", "/a", "/a", {{HISTORY_SEARCH, "b"}}, "/a\n/b\n"},
        {"a line holding a NUL", nul_line, nul_line, {{HISTORY_SEARCH, "d"}}, "/c\n/d\n"},
        {"nothing typed: left as it is", "junk\n/a\n/a\n", "junk\n/a\n/a\n", {}, "junk\n/a\n/a\n"},
    };
    std::string named = dir + "/hist";
    setenv("QUOREL_HISTORY", named.c_str(), 1);
    for (const merge_case &c : cases) {
        write_bytes(named, c.at_load);
        history_load();
        for (const auto &[kind, text] : c.typed)
            add(kind, text);
        write_bytes(named, c.at_exit);
        history_save();
        EXPECT_EQ(said_at_exit(), "") << c.what;
        EXPECT_EQ(read_bytes(named), c.saved) << c.what;
    }
}

TEST_F(HistoryTest, ALinkStaysALinkToTheFileKept)
{
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0700), 0);
    ASSERT_EQ(symlink("real/c", (dir + "/chain").c_str()), 0);
    struct link_case {
        const char *what;
        std::string to;         // what the link holds
        std::string kept;       // the file that holds the history then
    };
    const std::vector<link_case> cases = {
        {"absolute", dir + "/real/a", dir + "/real/a"},
        {"relative", "real/b", dir + "/real/b"},
        {"to another link", "chain", dir + "/real/c"},
        {"to a file in a directory not made yet", "new/d", dir + "/new/d"},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        const link_case &c = cases[i];
        std::string link = dir + "/link" + std::to_string(i);
        ASSERT_EQ(symlink(c.to.c_str(), link.c_str()), 0) << c.what;
        setenv("QUOREL_HISTORY", link.c_str(), 1);
        history_load();
        add(HISTORY_SEARCH, c.what);
        history_save();
        EXPECT_EQ(said_at_exit(), "") << c.what;
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0) << c.what;
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.what;
        EXPECT_EQ(read_bytes(c.kept), "/" + std::string(c.what) + "\n") << c.what;
    }
}

TEST_F(HistoryTest, AFileThatCannotBeReadWholeIsLeftAsItIsAndThatIsSaid)
{
    std::string big;
    while (big.size() <= (1u << 20))
        big += "/an entry from a file far larger than any history\n";
    std::string named = dir + "/hist";
    struct unreadable_case {
        const char *what;
        std::function<void()> make;
        const char *reason;
    };
    const std::vector<unreadable_case> cases = {
        {"a directory", [&] { mkdir(named.c_str(), 0700); }, "Is a directory"},
        {"a FIFO", [&] { mkfifo(named.c_str(), 0600); }, "not a regular file"},
        {"larger than any history", [&] { write_bytes(named, big); }, "File too large"},
    };
    setenv("QUOREL_HISTORY", named.c_str(), 1);
    for (const unreadable_case &c : cases) {
        remove_tree(named);
        c.make();
        struct stat before, after;
        ASSERT_EQ(stat(named.c_str(), &before), 0) << c.what;
        history_load();
        add(HISTORY_SEARCH, "mine");
        history_save();
        EXPECT_EQ(said_at_exit(), std::string("quorel: history not saved: ") + c.reason + "\n")
            << c.what;
        EXPECT_EQ(said_at_exit(), "") << "said once: " << c.what;
        ASSERT_EQ(stat(named.c_str(), &after), 0) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
        EXPECT_EQ(after.st_size, before.st_size) << c.what;
    }
}

} // namespace
