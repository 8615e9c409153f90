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
#include "viewer/display/screen.h"
#include "viewer/options/option.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"
#include "tests/unit/fixtures.h"

namespace {

// Private descriptions; qt-long's strings (LONG) do not all fit the area.
constexpr char DESCRIPTIONS[] = R"(
qt-cm|motion but no home or lower-left,
	cols#80, lines#30, xmc#2, am, xenl, OTbs, OTbc=\E[D,
	cup=\E[%i%p1%d;%p2%dH, clear=\E[H\E[J, el=\E[K, ri=\EM,
	smso=\E[7m, rmso=\E[27m,
qt-full|every capability,
	cols#100, lines#40, xmc#0, pad=\001, OTbc=\E[D,
	cup=\E[%i%p1%d;%p2%dH, clear=\E[2J, el=\E[K, home=\E[H, ll=\E[99H,
	il1=\E[L, ri=\EM, smso=\E[7m, rmso=\E[27m, smul=\E[4m, rmul=\E[24m,
	bold=\E[1m, sgr0=\E[0m, flash=\E[?5h\E[?5l, smcup=\E[?47h, rmcup=\E[?47l,
qt-hc|hard copy,
	cols#72, lines#50, hc, cup=\E[%i%p1%d;%p2%dH, clear=\E[2J, el=\E[K,
	il1=\E[L, smso=\E[7m, rmso=\E[27m, smul=\E[4m, flash=\E[?5h,
qt-long|strings too long for the capability area,
	cols#80, lines#24, el=\E[K, cup=\E[%i%p1%d;%p2%dH, ri=\EM,
)";

constexpr char WARNINGS[] = "WARNING: terminal cannot \"clear to end of line\"\n"
                            "WARNING: terminal cannot \"clear screen\"\n"
                            "WARNING: terminal cannot \"home cursor\"\n"
                            "WARNING: terminal cannot \"move cursor to lower left of screen\"\n"
                            "WARNING: terminal cannot \"scroll backwards\"\n";

// What f writes to descriptor fd, the output buffer included.
template <typename F> std::string capture(int fd, F f)
{
    out_flush();
    return captured(fd, [&] { f(); out_flush(); });
}

// term_setup for type (nullptr: TERM unset) with descriptor 2 on window, or
// on a plain file (no window size); returns what went to descriptor 2.
// Descriptor 1 is kept off any terminal, which the library would measure.
std::string setup(const char *type, int window = -1)
{
    type ? setenv("TERM", type, 1) : unsetenv("TERM");
    std::string errors;
    capture(1, [&] {
        if (window < 0)
            errors = capture(2, term_setup);
        else
            redirected(2, window, term_setup);
    });
    return errors;
}

// A pseudo-terminal to stand in for descriptor 2.
struct pseudo_terminal {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    int slave = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                    ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
    ~pseudo_terminal() { close(slave), close(master); }
};

class TermTest : public testing::Test {
protected:
    static inline std::string dir;
    static inline saved_env user_term;

    static void SetUpTestSuite()
    {
        user_term = env_save("TERM");
        dir = temp_dir("term_test_");
        ASSERT_FALSE(dir.empty());
        std::string source = dir + "/terms.src";
        FILE *f = fopen(source.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fprintf(f, "%s\tsmcup=%s, rmcup=%s, clear=%s,\n", DESCRIPTIONS,
                std::string(600, 'x').c_str(), std::string(600, 'y').c_str(),
                std::string(1100, 'z').c_str());
        fclose(f);
        std::string command = "tic -x -o " + dir + " " + source + " 2>/dev/null";
        ASSERT_EQ(system(command.c_str()), 0);
        setenv("TERMINFO", dir.c_str(), 1);
        unsetenv("LINES");
        unsetenv("COLUMNS");
        // As the program does at start.
        term_set_warning_hook(show_error);
    }
    static void TearDownTestSuite()
    {
        env_restore(user_term);
        unsetenv("TERMINFO");
        EXPECT_EQ(remove_tree(dir), 0);
    }
    void SetUp() override
    {
        settings_reset();
        screen_started = 0;
        opt_h = 7;
    }
};

TEST_F(TermTest, TerminalWithoutEntryGetsDumbFallbacks)
{
    const struct {
        const char *type;
        int debug;
        const char *warnings;
    } cases[] = {{nullptr, 0, WARNINGS}, {"qt-no-such-entry", 0, WARNINGS},
                 {"qt-no-such-entry", 1, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type ? c.type : "TERM unset");
        opt_d = c.debug;
        opt_h = 7;
        int before = error_count;
        EXPECT_EQ(setup(c.type), c.warnings);
        EXPECT_EQ(error_count, before + (c.debug ? 0 : 5));
        EXPECT_EQ(screen_rows, 24);
        EXPECT_EQ(screen_cols, 80);
        EXPECT_EQ(hard_copy, 1);
        // The setting stays the user's; the screen repaints every move back.
        EXPECT_FALSE(term_can_scroll_back());
        EXPECT_EQ(opt_h, 7);
        EXPECT_EQ(back_scroll_limit(), 0);
        EXPECT_EQ(capture(1, term_clear), "\n\n");
        EXPECT_EQ(capture(1, term_home), "|\b^");
        EXPECT_EQ(capture(1, term_lower_left), "\r");
        EXPECT_EQ(capture(1, [] { term_clear_eol(), term_standout_on(), term_underline_on(),
                                  term_insert_line(); }), "");
        EXPECT_EQ(capture(1, term_erase_char), "\b \b");
    }
}

TEST_F(TermTest, MissingCapabilitiesBorrowFromOthers)
{
    int before = error_count;
    EXPECT_EQ(setup("qt-cm"), "");
    EXPECT_EQ(error_count, before);
    EXPECT_EQ(screen_rows, 30);
    EXPECT_EQ(hard_copy, 0);
    EXPECT_EQ(wraps_at_margin + wrap_glitch, 2);
    EXPECT_EQ(opt_h, 7);
    EXPECT_TRUE(term_can_scroll_back());
    EXPECT_EQ(back_scroll_limit(), 7);
    EXPECT_EQ(capture(1, term_home), "\033[1;1H");
    EXPECT_EQ(capture(1, term_lower_left), "\033[30;1H");
    EXPECT_EQ(capture(1, term_insert_line), "\033M");
    EXPECT_EQ(capture(1, term_underline_on), "\033[7m");
    EXPECT_EQ(capture(1, term_underline_off), "\033[27m");
    EXPECT_EQ(capture(1, term_bold_on), "\033[7m");
    EXPECT_EQ(capture(1, term_bold_off), "\033[27m");
    EXPECT_EQ(capture(1, term_backspace), "\b");  // "bs" wins over "bc"
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
        {"qt-cm", 1, "\a"},   {"qt-cm", 2, ""},     {"qt-hc", 2, ""},
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
    EXPECT_EQ(capture(1, [] { term_standout_on(), term_underline_on(); }), "");
    EXPECT_EQ(capture(1, term_clear), "\n\n");
}

TEST_F(TermTest, OverlongStringsAreDroppedNotOverrun)
{
    // 600 bytes fit the area; the next 600 and the 1100 do not.
    EXPECT_EQ(setup("qt-long"), "WARNING: terminal cannot \"clear screen\"\n");
    EXPECT_EQ(capture(1, term_init_screen), std::string(600, 'x'));
    EXPECT_EQ(capture(1, term_deinit_screen), "");
    EXPECT_EQ(capture(1, term_clear), "\n\n");
    EXPECT_EQ(capture(1, term_clear_eol), "\033[K");
    EXPECT_EQ(capture(1, term_lower_left), "\033[24;1H");
}

TEST_F(TermTest, WindowSizeIsUsedWithinBounds)
{
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    opt_d = 1;
    const struct {
        const char *type;
        unsigned short rows, cols;
        int want_rows, want_cols;
    } cases[] = {
        {"qt-cm", 50, 120, 50, 120}, {"qt-hc", 50, 120, 24, 120}, {"qt-cm", 0, 0, 30, 80},
        {"qt-cm", 1, 1, 2, 2},       {"qt-cm", 300, 5000, 300, 1000},
    };
    for (const auto &c : cases) {
        winsize size{.ws_row = c.rows, .ws_col = c.cols, .ws_xpixel = 0, .ws_ypixel = 0};
        ioctl(pty.slave, TIOCSWINSZ, &size);
        setup(c.type, pty.slave);
        EXPECT_EQ(screen_rows, c.want_rows) << c.type << " " << c.rows;
        EXPECT_EQ(screen_cols, c.want_cols) << c.type << " " << c.cols;
    }
    EXPECT_EQ(capture(1, term_lower_left), "\033[300;1H");
    // The library wrote the window it measured into its copy of qt-cm and
    // reuses that copy for the next load of the same name: load another.
    setup("qt-full");
}

TEST_F(TermTest, RawModeChangesOnlyItsFlagsAndRestoresOnlyWhatItSaved)
{
    pseudo_terminal pty;
    ASSERT_GE(pty.slave, 0);
    termios user{}, raw{}, now{};
    tcgetattr(pty.slave, &user);
    user.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG;
    user.c_oflag = (user.c_oflag & ~TABDLY) | OCRNL | ONLRET;
    user.c_cc[VERASE] = 0x7f;
    user.c_cc[VKILL] = 0xd5;
    user.c_cc[VMIN] = 0;
    user.c_cc[VTIME] = 5;
    cfsetospeed(&user, B9600);
    tcsetattr(pty.slave, TCSANOW, &user);
    tcgetattr(pty.slave, &user);

    redirected(2, pty.slave, [] { term_set_mode(1); });
    tcgetattr(pty.slave, &raw);
    EXPECT_EQ(raw.c_lflag, user.c_lflag & ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL));
    EXPECT_EQ(raw.c_oflag & (OPOST | ONLCR | TABDLY | OCRNL | ONOCR | ONLRET),
              OPOST | ONLCR | TAB3);
    EXPECT_EQ(raw.c_iflag, user.c_iflag);
    EXPECT_EQ(raw.c_cflag, user.c_cflag);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    EXPECT_EQ(raw.c_cc[VTIME], 0);
    EXPECT_EQ(erase_key, 0x7f);
    EXPECT_EQ(kill_key, 0xd5);
    EXPECT_EQ(ospeed, static_cast<short>(B9600));
    setup("qt-cm");  // loading a description must not lose the padding speed
    EXPECT_EQ(ospeed, static_cast<short>(B9600));

    redirected(2, pty.slave, [] { term_set_mode(0); });
    tcgetattr(pty.slave, &now);
    EXPECT_EQ(now.c_lflag, user.c_lflag);
    EXPECT_EQ(now.c_oflag, user.c_oflag);

    // Entering raw mode without a terminal forgets the earlier settings, so
    // leaving it afterwards must not bring them back.
    FILE *plain = tmpfile();
    redirected(2, fileno(plain), [] { term_set_mode(1); });
    fclose(plain);
    now.c_lflag &= ~ECHO;
    tcsetattr(pty.slave, TCSANOW, &now);
    redirected(2, pty.slave, [] { term_set_mode(0); });
    tcgetattr(pty.slave, &now);
    EXPECT_EQ(now.c_lflag & ECHO, 0u);
}

} // namespace
