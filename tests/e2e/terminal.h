// A program running on a pseudo-terminal, with its screen kept by libvterm,
// for the end-to-end tests of the interactive viewer.
//
// Usage:
//
//     pty_session s;
//     pty_options o;
//     o.rows = 10;
//     o.cols = 40;
//     o.env = {"MIVO=-m"};
//     ASSERT_TRUE(s.start({QUOREL_BIN, file}, o));
//     ASSERT_TRUE(s.wait_for_text("line 1"));       // pumps output, 5 s at most
//     EXPECT_EQ(s.row_text(0), "line 1");
//     EXPECT_TRUE(s.cell_attrs(9, 0).reverse);      // prompt in standout
//     s.send(" ");                                   // one key
//     ASSERT_TRUE(s.wait_for_row(0, [](const std::string &t) { return t == "line 10"; }));
//     s.resize(20, 40);                              // SIGWINCH to the program
//     s.send_ctrl('c');                              // interrupt key
//     s.send("q");
//     EXPECT_EQ(s.wait_exit(), 0);
//     EXPECT_TRUE(s.modes_restored());
//
// Piped standard input: set o.stdin_pipe, then write_stdin() and close_stdin();
// keys still go to the terminal with send().
//
// The program runs as the foreground job of a small session leader inside
// the pseudo-terminal, the way a shell runs a job, so that its stop signals
// work (a process group whose parent is outside its session is orphaned,
// and the system discards stop signals sent to it).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <termios.h>
#include <vector>

struct VTerm;

struct pty_options {
    int rows = 24;
    int cols = 80;
    std::string term = "xterm";     // TERM; empty leaves it unset
    std::vector<std::string> env;   // "NAME=value" set, "NAME" removed
    std::string cwd;                // working directory, or inherited
    std::string stdin_file;         // standard input from this file, or
    bool stdin_pipe = false;        // from a pipe fed by write_stdin()
};

struct text_attrs {
    bool bold = false;
    bool underline = false;
    bool reverse = false;
    int foreground = -1;            // palette index; -1 the default colour
    int background = -1;
};

struct screen_point {
    int row;                        // from 0
    int col;                        // from 0
};

class pty_session {
public:
    pty_session();
    ~pty_session();
    pty_session(const pty_session &) = delete;
    pty_session &operator=(const pty_session &) = delete;

    // Start argv[0] (a path) with the given arguments. The environment holds
    // only PATH, HOME (a fresh empty directory), TERM, LANG=C, LC_ALL=C,
    // SHELL=/bin/sh and opts.env. False if the program could not be started.
    bool start(const std::vector<std::string> &argv, const pty_options &opts = {});

    // Type bytes on the terminal, as the user would.
    bool send(std::string_view keys);
    // The byte a control key sends: ctrl('c') is "\x03", ctrl('[') ESC.
    static std::string ctrl(char c);
    bool send_ctrl(char c);

    // Queue bytes for the program's piped standard input; they are written
    // as the program reads them, while output is pumped.
    void write_stdin(std::string_view bytes);
    // End of file on the pipe once the queued bytes are written.
    void close_stdin();

    // The screen as it stands after the output pumped so far.
    int rows() const;
    int cols() const;
    std::string row_text(int row) const;        // trailing spaces removed
    std::string screen_text() const;            // all rows joined by '\n'
    text_attrs cell_attrs(int row, int col) const;
    // One letter per column: ' ' plain, 'b' bold, 'u' underline, 'r' reverse,
    // '*' more than one of these. Trailing blanks removed.
    std::string row_attrs(int row) const;
    screen_point cursor() const;
    int bell_count() const;                     // bells rung so far
    const std::string &output() const;          // every byte the program wrote

    // Read output until pred() holds (true) or timeout_ms passes (false).
    // pred is checked after every piece of output, never on a timer.
    bool wait_for(const std::function<bool()> &pred, int timeout_ms = 5000);
    bool wait_for_text(std::string_view text, int timeout_ms = 5000);
    bool wait_for_row(int row, const std::function<bool(const std::string &)> &pred,
                      int timeout_ms = 5000);
    // Read output until none arrives for quiet_ms; false when the output
    // never paused before timeout_ms. Use before asserting that something
    // did NOT change; assert on the screen, never on the time.
    bool wait_quiet(int quiet_ms = 200, int timeout_ms = 5000);

    // New window size: the terminal emulator follows, and the program gets
    // SIGWINCH as its foreground job.
    bool resize(int rows, int cols);
    // Send a signal to the program itself (not through the terminal).
    bool signal(int sig);
    pid_t pid() const;

    // Job state. stopped() is true between a stop and the next continue.
    bool stopped() const;
    bool exited() const;
    bool wait_stopped(int timeout_ms = 5000);
    bool wait_continued(int timeout_ms = 5000);
    // Wait for the end of the program and read all it wrote. The exit
    // status, 128 + signal number when killed, -1 on timeout.
    int wait_exit(int timeout_ms = 5000);

    // After wait_exit: whether the terminal's input, output and local modes,
    // VMIN and VTIME are those it had before the program started.
    bool modes_restored() const;

    const std::string &home() const;            // the program's HOME

private:
    int pump(int timeout_ms);
    void read_master();
    void read_relay();
    void write_pending_stdin();
    void stop_everything();

    VTerm *vt_ = nullptr;
    int master_ = -1;               // -1 once the terminal's far side closed
    int relay_ = -1;                // job events from the session leader
    int stdin_w_ = -1;              // write end of the piped standard input
    pid_t leader_ = -1;             // session leader inside the terminal
    pid_t pid_ = -1;                // the program
    bool stopped_ = false;
    bool exited_ = false;
    bool stdin_closing_ = false;
    int status_ = -1;
    int bells_ = 0;
    std::string stdin_pending_;
    std::string relay_buf_;
    std::string output_;
    std::string home_;
    struct termios modes_before_ {};
    struct termios modes_after_ {};
    bool have_modes_after_ = false;
};
