#include "viewer/control/history.h"

#include "tests/unit/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
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

TEST_F(HistoryTest, OddBytesSurviveTwoRunsInAPrivateFile)
{
    history_load();
    EXPECT_EQ(history_path(), file);
    const std::vector<std::string> odd = {
        "plain", "two\nlines", "back\\slash", "\\n as typed", std::string("nul\0byte", 8),
        "\x1b[31mred\x07", "\xff\xfe high", "\r\t",
    };
    for (const std::string &s : odd)
        add(HISTORY_SEARCH, s);
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
                        "!second\n"
                        ":torn last line";
    add(HISTORY_SEARCH, "make the directories");
    history_save();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << lines;
    history_load();
    EXPECT_EQ(entries(HISTORY_SEARCH), std::vector<std::string>{"first"});
    EXPECT_EQ(entries(HISTORY_SHELL), std::vector<std::string>{"second"});
    EXPECT_EQ(history_count(HISTORY_EXAMINE), 0);
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

} // namespace
