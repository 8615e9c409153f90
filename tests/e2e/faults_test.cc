// Whole runs with failures injected into read, write and malloc (the
// preloaded tests/faultinject library): copying mode, the interactive
// viewer and the log file each give a clear message, give the terminal
// back, end with a non-zero status when something failed, and lose no
// byte when writes were only short or interrupted.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The environment that preloads the faults. A sanitized viewer must be
// told that another library comes before its runtime.
std::vector<std::string> inject(std::vector<std::string> faults)
{
    faults.push_back(std::string("LD_PRELOAD=") + FAULTINJECT_LIB);
    faults.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0");
    return faults;
}

struct write_fault {
    std::string mode;           // FI_WRITE_MODE
    std::string arg;            // FI_WRITE_ARG
    int err;                    // errno of the failure, 0 when nothing fails
};

// Short and interrupted writes lose nothing; the others fail after 5000 bytes.
const std::vector<write_fault> WRITE_FAULTS = {
    {"short", "100", 0},
    {"eintr", "0", 0},
    {"enospc", "5000", ENOSPC},
    {"eio", "5000", EIO},
};

std::vector<std::string> with_write_fault(const write_fault &f, const std::string &target)
{
    return inject({target, "FI_WRITE_MODE=" + f.mode, "FI_WRITE_ARG=" + f.arg});
}

class Faults : public viewer_test {
protected:
    bool start_with(pty_session &s, const std::vector<std::string> &args,
                    const std::vector<std::string> &env, bool piped = false)
    {
        pty_options o = window();
        o.env = env;
        o.stdin_pipe = piped;
        return start(s, args, o);
    }
};

// ---------------------------------------------------------------------------
// Copying mode

TEST_F(Faults, CopyingRidesOutShortWritesAndStopsAtFailures)
{
    const std::string input = numbered(1, 60000);        // about 600 KB
    const std::string a = file("a", input);
    for (const write_fault &f : WRITE_FAULTS) {
        for (bool piped : {true, false}) {
            SCOPED_TRACE(f.mode + (piped ? " from a pipe" : " from a file"));
            run_options o = feed(piped ? input : "", with_write_fault(f, "FI_WRITE_FD=1"));
            run_result r = run_program({QUOREL_BIN, piped ? "-" : a}, o);
            if (f.err == 0) {
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.err, "");
                EXPECT_TRUE(r.out == input) << r.out.size() << " bytes of " << input.size();
            } else {
                EXPECT_EQ(r.status, 2);
                EXPECT_EQ(r.err, std::string("write error: ") + strerror(f.err) + "\n");
                EXPECT_TRUE(r.out == input.substr(0, 5000)) << r.out.size() << " bytes";
            }
        }
    }
}

TEST_F(Faults, CopyingStopsAtAReadError)
{
    const std::string input = numbered(1, 2000);
    run_result r = run_program({QUOREL_BIN}, feed(input, inject({"FI_READ_FD=0",
                                                                 "FI_READ_FAIL_AT=7000"})));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "read error\n");
    EXPECT_TRUE(r.out == input.substr(0, 7000)) << r.out.size() << " bytes";
}

// ---------------------------------------------------------------------------
// The interactive viewer

TEST_F(Faults, TerminalWritesShortInterruptedOrFailing)
{
    const std::string f = file("f", numbered(1, 40));
    for (const write_fault &w : WRITE_FAULTS) {
        SCOPED_TRACE(w.mode);
        pty_session s;
        std::vector<std::string> env = with_write_fault(w, "FI_WRITE_FD=1");
        env.push_back("FI_WRITE_ARG=" + std::string(w.err ? "300" : w.arg));   // after the first screen
        ASSERT_TRUE(start_with(s, {f}, env));
        if (w.err == 0) {
            ASSERT_TRUE(top_is(s, "line 1."));
            s.send("G");
            ASSERT_TRUE(row_is(s, 8, "line 40."));
            ASSERT_TRUE(bottom_is(s, "(END)"));
            quit(s);
        } else {
            // Nothing more reaches the screen; the viewer still quits on q
            // and says on standard error what was lost.
            ASSERT_TRUE(s.wait_for_text("line 1."));
            s.send("Gq");
            expect_exit(s, 1);
            EXPECT_NE(s.output().find(std::string("write error: ") + strerror(w.err)),
                      std::string::npos);
        }
    }
}

TEST_F(Faults, ReadErrorOnAPipeEndsTheViewer)
{
    pty_session s;
    ASSERT_TRUE(start_with(s, {}, inject({"FI_READ_FD=0", "FI_READ_FAIL_AT=5000"}), true));
    s.write_stdin(numbered(1, 3000));
    ASSERT_TRUE(top_is(s, "line 1."));
    s.send("G");
    ASSERT_TRUE(bottom_is(s, message("read error")));
    s.send("\r");
    expect_exit(s, 2);
}

// The signal comes while read() returns data: the data stay.
TEST_F(Faults, SignalDuringAPipeReadKeepsTheBytesRead)
{
    const std::string input = numbered(1, 30000);
    for (int sig : {SIGWINCH, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        pty_session s;
        ASSERT_TRUE(start_with(s, {"-Lpipe.log"},
                               inject({"FI_READ_FD=0", "FI_READ_SIGNAL=" + std::to_string(sig)}),
                               true));
        s.write_stdin(input);
        s.close_stdin();
        // The signal may have cut the first screen short: repaint it.
        ASSERT_TRUE(bottom_is(s, ":"));
        s.send("r");
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send("G");
        ASSERT_TRUE(row_is(s, 8, "line 30000."));
        ASSERT_TRUE(bottom_is(s, "(END)"));
        quit(s);
        EXPECT_TRUE(read_file(path("pipe.log")) == input);
    }
}

// Every allocation that fails, from the first on: a clear message and
// status 2 (or the terminal library's own message and exit while it loads
// the description), or a run that needed no more; never a death by signal,
// and the terminal always back in its modes.
TEST_F(Faults, ExhaustedMemoryAtEveryAllocationOfAShortRun)
{
    const std::string f = file("f", numbered(1, 40));
    const std::string count_file = path("calls");
    {
        pty_session s;
        ASSERT_TRUE(start_with(s, {f}, inject({"FI_REPORT=" + count_file})));
        ASSERT_TRUE(top_is(s, "line 1."));
        quit(s);
    }
    long calls = std::stol(read_file(count_file).substr(strlen("malloc_calls ")));
    ASSERT_GT(calls, 0);
    for (long n = 0; n <= calls; n++) {
        SCOPED_TRACE("malloc fails after " + std::to_string(n) + " calls");
        pty_session s;
        ASSERT_TRUE(start_with(s, {f}, inject({"FI_MALLOC_FAIL_AFTER=" + std::to_string(n)})));
        // Answer whatever waits: a message with RETURN, the prompt with q.
        for (int answers = 0; answers < 4 && !s.exited(); answers++) {
            s.wait_for([&] {
                std::string bottom = s.row_text(s.rows() - 1);
                return s.exited() || bottom == ":" ||
                       bottom.find("(press RETURN)") != std::string::npos;
            });
            if (s.exited())
                break;
            s.send(s.row_text(s.rows() - 1) == ":" ? "q" : "\r");
            s.wait_quiet();
        }
        int status = s.wait_exit();
        EXPECT_TRUE(s.modes_restored());
        if (status == 0)
            continue;
        bool library = status == 1 && s.output().find("Out of memory") != std::string::npos;
        if (!library) {
            EXPECT_EQ(status, 2) << s.output();
            EXPECT_NE(s.output().find("cannot allocate"), std::string::npos) << s.output();
        }
    }
}

// Signals that end the process give the terminal back first.
TEST_F(Faults, FatalSignalsRestoreTheTerminal)
{
    const std::string f = file("f", numbered(1, 40));
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGABRT}) {
        SCOPED_TRACE(strsignal(sig));
        pty_session s;
        ASSERT_TRUE(start(s, {f}));
        ASSERT_TRUE(top_is(s, "line 1."));
        ASSERT_TRUE(bottom_is(s, f));           // the first prompt names the file
        s.signal(sig);
        EXPECT_NE(s.wait_exit(), 0);
        EXPECT_TRUE(s.modes_restored());
    }
}

// ---------------------------------------------------------------------------
// The log file

TEST_F(Faults, LogWritesShortInterruptedOrFailing)
{
    const std::string input = numbered(1, 50000);        // about 500 KB
    const std::string message_text = "log file write error: ";
    for (const write_fault &w : WRITE_FAULTS) {
        SCOPED_TRACE(w.mode);
        pty_session s;
        ASSERT_TRUE(start_with(s, {"-Lpipe.log"},
                               with_write_fault(w, "FI_WRITE_PATH=" + path("pipe.log")), true));
        s.write_stdin(input);
        s.close_stdin();
        ASSERT_TRUE(top_is(s, "line 1."));
        s.send("G");
        if (w.err != 0) {
            // Once, and viewing goes on.
            ASSERT_TRUE(bottom_is(s, message(message_text + strerror(w.err))));
            s.send("\r");
        }
        ASSERT_TRUE(row_is(s, 8, "line 50000."));
        ASSERT_TRUE(bottom_is(s, "(END)"));
        s.send("q");
        expect_exit(s, w.err == 0 ? 0 : 1);
        std::string log = read_file(path("pipe.log"));
        if (w.err == 0) {
            EXPECT_TRUE(log == input) << log.size() << " bytes of " << input.size();
        } else {
            EXPECT_TRUE(log == input.substr(0, 5000)) << log.size() << " bytes";
            size_t first = s.output().find(message_text);
            EXPECT_EQ(s.output().find(message_text, first + 1), std::string::npos);
        }
    }
}

// ---------------------------------------------------------------------------
// The history file

TEST_F(Faults, HistoryThatCannotBeReadOrSavedIsLeftAsItWasAndThatIsSaid)
{
    std::string entries;
    for (int i = 100; i < 200; i++)
        entries += "/entry " + std::to_string(i) + "\n";      // 100 entries, 1100 bytes
    const std::string f = file("f", numbered(1, 40));
    const std::string hist = file("hist", entries);
    struct history_fault {
        const char *what;
        std::vector<std::string> env;
        int err;
    };
    const std::vector<history_fault> faults = {
        {"read error at byte 600", {"FI_READ_PATH=" + hist, "FI_READ_FAIL_AT=600"}, EIO},
        {"read error at once", {"FI_READ_PATH=" + hist, "FI_READ_FAIL_AT=0"}, EIO},
        {"disk full", {"FI_WRITE_PATH=" + hist + ".*", "FI_WRITE_MODE=enospc", "FI_WRITE_ARG=100"},
         ENOSPC},
        {"rename refused", {"FI_RENAME_ERRNO=" + std::to_string(EACCES)}, EACCES},
    };
    for (const history_fault &h : faults) {
        SCOPED_TRACE(h.what);
        std::vector<std::string> env = inject(h.env);
        env.push_back("QUOREL_HISTORY=" + hist);
        pty_session s;
        ASSERT_TRUE(start_with(s, {"-I", f}, env));
        s.send("/line 7\r");
        ASSERT_TRUE(top_is(s, "line 7."));
        s.send("q");
        expect_exit(s, 0);
        // Once the terminal is the user's again: the last thing written.
        const std::string said = std::string("quorel: history not saved: ") + strerror(h.err) + "\r\n";
        const std::string &out = s.output();
        EXPECT_TRUE(out.size() >= said.size() && out.compare(out.size() - said.size(), said.size(), said) == 0)
            << out.substr(out.size() > 200 ? out.size() - 200 : 0);
        EXPECT_TRUE(read_file(hist) == entries);
        for (const auto &entry : std::filesystem::directory_iterator(dir())) {
            std::string name = entry.path().filename();
            EXPECT_TRUE(name.rfind("hist.", 0) != 0 || name == "hist.lock") << name << " left behind";
        }
    }
}

} // namespace
