#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termcap.h>
#include <termios.h>
#include <unistd.h>

#include "viewer/control/program.h"
#include "viewer/options/option.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// Private terminal descriptions, compiled once into a scratch directory.
constexpr char DESCRIPTIONS[] = R"(
qt-cm|motion but no home or lower-left,
	cols#80, lines#30, xmc#2, am, xenl, OTbs,
	cup=\E[%i%p1%d;%p2%dH, clear=\E[H\E[J, el=\E[K, ri=\EM,
	smso=\E[7m, rmso=\E[27m, OTbc=\E[D,
qt-full|every capability,
	cols#100, lines#40, xmc#0,
	cup=\E[%i%p1%d;%p2%dH, clear=\E[2J, el=\E[K, home=\E[H, ll=\E[99H,
	il1=\E[L, ri=\EM, smso=\E[7m, rmso=\E[27m, smul=\E[4m, rmul=\E[24m,
	bold=\E[1m, sgr0=\E[0m, flash=\E[?5h\E[?5l, smcup=\E[?47h,
	rmcup=\E[?47l, OTbc=\E[D, pad=\001,
qt-hc|hard copy,
	cols#72, lines#50, hc, cup=\E[%i%p1%d;%p2%dH, clear=\E[2J, el=\E[K,
	il1=\E[L, smso=\E[7m, rmso=\E[27m, smul=\E[4m, flash=\E[?5h,
qt-long|strings too long for the capability area,
	cols#80, lines#24, el=\E[K, cup=\E[%i%p1%d;%p2%dH, ri=\EM,
	smcup=@600@, rmcup=@600@, clear=@1100@,
)";

constexpr char WARNINGS[] =
    "WARNING: terminal cannot \"clear to end of line\"\n"
    "WARNING: terminal cannot \"clear screen\"\n"
    "WARNING: terminal cannot \"home cursor\"\n"
    "WARNING: terminal cannot \"move cursor to lower left of screen\"\n"
    "WARNING: terminal cannot \"scroll backwards\"\n";

// "@N@" in the source stands for N letters.
std::string expand(std::string text)
{
    for (size_t at; (at = text.find('@')) != std::string::npos;) {
        size_t end = text.find('@', at + 1);
        size_t n = std::stoul(text.substr(at + 1, end - at - 1));
        text.replace(at, end - at + 1, std::string(n, 'x'));
    }
    return text;
}

std::string read_all(int fd)
{
    std::string text;
    char chunk[512];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}

// Run f with descriptor fd sent to a scratch file; what was written.
template <typename F> std::string capture(int fd, F f)
{
    out_flush();
    FILE *scratch = tmpfile();
    int saved = dup(fd);
    dup2(fileno(scratch), fd);
    f();
    out_flush();
    dup2(saved, fd);
    close(saved);
    std::string text = read_all(fileno(scratch));
    fclose(scratch);
    return text;
}

// term_setup for type (nullptr: TERM unset) with descriptor 2 on `window`
// (-1: a plain file, so no window size); returns what went to descriptor 2.
std::string setup(const char *type, int window = -1)
{
    if (type)
        setenv("TERM", type, 1);
    else
        unsetenv("TERM");
    std::string errors;
    // Descriptor 1 is kept off any terminal: the library sizes it otherwise.
    capture(1, [&] {
        if (window < 0) {
            errors = capture(2, term_setup);
        } else {
            int saved = dup(2);
            dup2(window, 2);
            term_setup();
            dup2(saved, 2);
            close(saved);
        }
    });
    return errors;
}

class TermTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char dir[] = "/tmp/term_test_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        std::string source = std::string(dir) + "/terms.src";
        FILE *f = fopen(source.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(expand(DESCRIPTIONS).c_str(), f);
        fclose(f);
        std::string command = "tic -x -o " + std::string(dir) + " " + source + " 2>/dev/null";
        ASSERT_EQ(system(command.c_str()), 0);
        setenv("TERMINFO", dir, 1);
        unsetenv("LINES");
        unsetenv("COLUMNS");
    }
    void SetUp() override
    {
        screen_started = 0;
        opt_d = 0;
        opt_q = 0;
        opt_h = 7;
    }
};

TEST_F(TermTest, TerminalWithoutEntryGetsDumbFallbacksAndFiveWarnings)
{
    for (const char *type : {static_cast<const char *>(nullptr), "qt-no-such-entry"}) {
        SCOPED_TRACE(type ? type : "TERM unset");
        int before = error_count;
        EXPECT_EQ(setup(type), WARNINGS);
        EXPECT_EQ(error_count, before + 5);
        EXPECT_EQ(screen_rows, 24);
        EXPECT_EQ(screen_cols, 80);
        EXPECT_EQ(hard_copy, 1);
        EXPECT_EQ(opt_h, 0);
        EXPECT_EQ(capture(1, term_clear), "\n\n");
        EXPECT_EQ(capture(1, term_home), "|\b^");
        EXPECT_EQ(capture(1, term_lower_left), "\r");
        EXPECT_EQ(capture(1, term_clear_eol), "");
        EXPECT_EQ(capture(1, term_standout_on), "");
        EXPECT_EQ(capture(1, term_underline_on), "");
        EXPECT_EQ(capture(1, term_insert_line), "");
        EXPECT_EQ(capture(1, term_erase_char), "\b \b");
    }
}

TEST_F(TermTest, DebugSettingSilencesWarningsButKeepsFallbacks)
{
    opt_d = 1;
    int before = error_count;
    EXPECT_EQ(setup("qt-no-such-entry"), "");
    EXPECT_EQ(error_count, before);
    EXPECT_EQ(opt_h, 0);
    EXPECT_EQ(capture(1, term_clear), "\n\n");
    EXPECT_EQ(capture(1, term_home), "|\b^");
}

TEST_F(TermTest, MotionStandsInForHomeAndLowerLeft)
{
    int before = error_count;
    EXPECT_EQ(setup("qt-cm"), "");
    EXPECT_EQ(error_count, before);
    EXPECT_EQ(screen_rows, 30);
    EXPECT_EQ(hard_copy, 0);
    EXPECT_EQ(wraps_at_margin, 1);
    EXPECT_EQ(wrap_glitch, 1);
    EXPECT_EQ(opt_h, 7);
    EXPECT_EQ(capture(1, term_home), "\033[1;1H");
    EXPECT_EQ(capture(1, term_lower_left), "\033[30;1H");
    EXPECT_EQ(capture(1, term_insert_line), "\033M");
    // No underline or bold of its own: both borrow standout.
    EXPECT_EQ(capture(1, term_underline_on), "\033[7m");
    EXPECT_EQ(capture(1, term_underline_off), "\033[27m");
    EXPECT_EQ(capture(1, term_bold_on), "\033[7m");
    EXPECT_EQ(capture(1, term_bold_off), "\033[27m");
    // "bs" wins over "bc".
    EXPECT_EQ(capture(1, term_backspace), "\b");
    for (int width : {standout_on_width, standout_off_width, underline_on_width,
                      underline_off_width, bold_on_width, bold_off_width})
        EXPECT_EQ(width, 2);
}

TEST_F(TermTest, OwnCapabilitiesAreUsed)
{
    PC = 'z';
    setup("qt-cm");
    EXPECT_EQ(PC, 'z');  // no "pc": left as it was
    EXPECT_EQ(setup("qt-full"), "");
    EXPECT_EQ(PC, '\001');
    EXPECT_EQ(screen_cols, 100);
    EXPECT_EQ(standout_on_width + bold_off_width, 0);
    const struct {
        void (*operation)();
        const char *sent;
    } cases[] = {
        {term_init_screen, "\033[?47h"},  {term_deinit_screen, "\033[?47l"},
        {term_home, "\033[H"},            {term_lower_left, "\033[99H"},
        {term_insert_line, "\033[L"},     {term_clear, "\033[2J"},
        {term_clear_eol, "\033[K"},       {term_underline_on, "\033[4m"},
        {term_underline_off, "\033[24m"}, {term_bold_on, "\033[1m"},
        {term_bold_off, "\033[0m"},       {term_backspace, "\033[D"},
        {term_visual_bell, "\033[?5h\033[?5l"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(capture(1, c.operation), c.sent) << c.sent + 1;
}

TEST_F(TermTest, BellFollowsQuietSetting)
{
    const struct {
        const char *type;
        int quiet;
        const char *sent;
    } cases[] = {
        {"qt-full", 0, "\a"}, {"qt-full", 1, "\a"}, {"qt-full", 2, "\033[?5h\033[?5l"},
        {"qt-cm", 1, "\a"},   {"qt-cm", 2, ""},
    };
    for (const auto &c : cases) {
        setup(c.type);
        opt_q = c.quiet;
        EXPECT_EQ(capture(1, term_bell), c.sent) << c.type << " -q " << c.quiet;
    }
    setup("qt-cm");
    EXPECT_EQ(capture(1, term_visual_bell), "");
}

TEST_F(TermTest, HardCopyIgnoresItsCapabilities)
{
    EXPECT_EQ(setup("qt-hc"), WARNINGS);
    EXPECT_EQ(screen_rows, 24);
    EXPECT_EQ(screen_cols, 72);
    EXPECT_EQ(capture(1, term_standout_on), "");
    EXPECT_EQ(capture(1, term_underline_on), "");
    EXPECT_EQ(capture(1, term_clear), "\n\n");
    opt_q = 2;
    EXPECT_EQ(capture(1, term_bell), "");
}

TEST_F(TermTest, OverlongStringsAreDroppedNotOverrun)
{
    // 600 bytes fit the area; the second 600 and the 1100 do not.
    EXPECT_EQ(setup("qt-long"), "WARNING: terminal cannot \"clear screen\"\n");
    EXPECT_EQ(capture(1, term_init_screen), std::string(600, 'x'));
    EXPECT_EQ(capture(1, term_deinit_screen), "");
    EXPECT_EQ(capture(1, term_clear), "\n\n");
    EXPECT_EQ(capture(1, term_clear_eol), "\033[K");
    EXPECT_EQ(capture(1, term_insert_line), "\033M");
    EXPECT_EQ(capture(1, term_lower_left), "\033[24;1H");
}

// A pseudo-terminal to stand in for descriptor 2.
struct pseudo_terminal {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    int slave = -1;
    pseudo_terminal()
    {
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~pseudo_terminal()
    {
        close(slave);
        close(master);
    }
    void resize(int rows, int cols)
    {
        winsize size{};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(cols);
        ioctl(slave, TIOCSWINSZ, &size);
    }
};

TEST_F(TermTest, WindowSizeIsUsedWithinBounds)
{
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    opt_d = 1;
    const struct {
        const char *type;
        int rows, cols, want_rows, want_cols;
    } cases[] = {
        {"qt-cm", 50, 120, 50, 120},  {"qt-hc", 50, 120, 24, 120},
        {"qt-cm", 0, 0, 30, 80},      {"qt-cm", 1, 1, 2, 2},
        {"qt-cm", 300, 5000, 100, 1000},
    };
    for (const auto &c : cases) {
        pty.resize(c.rows, c.cols);
        setup(c.type, pty.slave);
        EXPECT_EQ(screen_rows, c.want_rows) << c.type << " " << c.rows;
        EXPECT_EQ(screen_cols, c.want_cols) << c.type << " " << c.cols;
    }
    EXPECT_EQ(capture(1, term_lower_left), "\033[100;1H");
}

// Run f with descriptor 2 on fd.
template <typename F> void on_descriptor_2(int fd, F f)
{
    int saved = dup(2);
    dup2(fd, 2);
    f();
    dup2(saved, 2);
    close(saved);
}

TEST_F(TermTest, RawModeChangesOnlyItsFlagsAndRestores)
{
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    termios user{};
    ASSERT_EQ(tcgetattr(pty.slave, &user), 0);
    user.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG;
    user.c_oflag = (user.c_oflag & ~TABDLY) | OCRNL | ONLRET | TAB0;
    user.c_cc[VERASE] = 0x7f;
    user.c_cc[VKILL] = 0xd5;
    user.c_cc[VMIN] = 0;
    user.c_cc[VTIME] = 5;
    cfsetospeed(&user, B9600);
    tcsetattr(pty.slave, TCSANOW, &user);
    tcgetattr(pty.slave, &user);

    termios raw{};
    on_descriptor_2(pty.slave, [] { term_set_mode(1); });
    tcgetattr(pty.slave, &raw);
    EXPECT_EQ(raw.c_lflag, user.c_lflag & ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL));
    EXPECT_TRUE(raw.c_lflag & ISIG);
    EXPECT_EQ(raw.c_oflag & (OPOST | ONLCR | TABDLY | OCRNL | ONOCR | ONLRET),
              OPOST | ONLCR | TAB3);
    EXPECT_EQ(raw.c_iflag, user.c_iflag);
    EXPECT_EQ(raw.c_cflag, user.c_cflag);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(erase_key, 0x7f);
    EXPECT_EQ(kill_key, 0xd5);
    EXPECT_EQ(ospeed, static_cast<short>(B9600));
    // Loading a description must not lose the speed used for padding.
    setup("qt-cm");
    EXPECT_EQ(ospeed, static_cast<short>(B9600));

    termios restored{};
    on_descriptor_2(pty.slave, [] { term_set_mode(0); });
    tcgetattr(pty.slave, &restored);
    EXPECT_EQ(restored.c_lflag, user.c_lflag);
    EXPECT_EQ(restored.c_oflag, user.c_oflag);
}

TEST_F(TermTest, NoTerminalMeansNothingToRestore)
{
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    on_descriptor_2(pty.slave, [] {
        term_set_mode(1);
        term_set_mode(0);
    });
    // Entering raw mode without a terminal forgets the earlier settings...
    FILE *plain = tmpfile();
    on_descriptor_2(fileno(plain), [] { term_set_mode(1); });
    fclose(plain);
    termios changed{};
    tcgetattr(pty.slave, &changed);
    changed.c_lflag &= ~ECHO;
    tcsetattr(pty.slave, TCSANOW, &changed);
    // ...so leaving it does not bring them back.
    on_descriptor_2(pty.slave, [] { term_set_mode(0); });
    termios after{};
    tcgetattr(pty.slave, &after);
    EXPECT_EQ(after.c_lflag & ECHO, 0u);
}

} // namespace
