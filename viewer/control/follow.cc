#include "viewer/control/follow.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "viewer/control/program.h"
#include "viewer/display/line.h"
#include "viewer/display/screen.h"
#include "viewer/display/syntax.h"
#include "viewer/display/view.h"
#include "viewer/input/buffer.h"
#include "viewer/input/exec.h"
#include "viewer/navigation/jump.h"
#include "viewer/input/linenum.h"
#include "viewer/input/scan.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/message.h"
#include "viewer/terminal/output.h"
#include "viewer/terminal/term.h"

namespace {

// How often a file's size, or a pipe whose writer has gone, is looked at
// when the system does not say when they change. Where it does, this is
// only the fallback (a file on a network file system).
constexpr int POLL_MS = 250;
// How long "File truncated" stays on the bottom line.
constexpr int TRUNCATED_MS = 1000;

int64_t now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// The system's word that the followed file, or (following by name) the
// entries of its folder, changed: a descriptor that becomes readable.
struct file_watch {
    int fd = -1;
    int file_wd = -1;
    int dir_wd = -1;

    void start(const char *name, bool by_name)
    {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0)
            return;
        watch_file();
        if (!by_name)
            return;
        // The folder tells of the name's rename, removal and new file.
        const char *slash = strrchr(name, '/');
        char dir[4096];
        if (!slash)
            snprintf(dir, sizeof dir, ".");
        else
            snprintf(dir, sizeof dir, "%.*s", slash == name ? 1 : static_cast<int>(slash - name),
                     name);
        dir_wd = inotify_add_watch(fd, dir, IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
    }
    // The open file itself: its name may lead elsewhere by now.
    void watch_file()
    {
        if (fd < 0)
            return;
        if (file_wd >= 0)
            inotify_rm_watch(fd, file_wd);
        char open_file[64];
        snprintf(open_file, sizeof open_file, "/proc/self/fd/%d", input_fd);
        file_wd = inotify_add_watch(fd, open_file, IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF |
                                                       IN_DELETE_SELF | IN_CLOSE_WRITE);
    }
    // Take what was said: each wake-up looks at the file anyway.
    void drain()
    {
        char events[4096];
        while (fd >= 0 && read(fd, events, sizeof events) > 0) {
        }
    }
    ~file_watch()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The name now leads to a file other than the one open (and one there is).
bool name_replaced()
{
    struct stat named, open_file;
    return stat(current_file_name, &named) == 0 && fstat(input_fd, &open_file) == 0 &&
           (named.st_dev != open_file.st_dev || named.st_ino != open_file.st_ino);
}

// Whether there is a byte at pos, reading only what has arrived.
bool has_byte_at(file_pos pos)
{
    return buf_seek(pos) == 0 && buf_next_byte() != END_OF_INPUT;
}

bool line_ends_before(file_pos pos)
{
    return pos == 0 || (buf_seek(pos - 1) == 0 && buf_next_byte() == '\n');
}

// New lines scroll in below a screen whose last row is a whole line, and a
// screen not yet full fills from its top. A last row that the new bytes
// continue, or more than a screenful of news: the last screen afresh.
void show_arrived()
{
    file_pos after = screen_pos(ROW_AFTER_BOTTOM);
    if (after != NO_POSITION && !has_byte_at(after))
        return;
    // Only some lines shown: news without one of them changes nothing.
    if (after != NO_POSITION && line_filtered() && !has_byte_at(line_first_shown(after)))
        return;
    if (after != NO_POSITION && line_ends_before(after)) {
        paint_forward(view_text_rows(), after, 0, 0);
    } else if (after == NO_POSITION && screen_pos(ROW_TOP) != NO_POSITION) {
        repaint_screen();
    } else {
        goto_end();
        return;
    }
    after = screen_pos(ROW_AFTER_BOTTOM);
    if (!pending_signals && after != NO_POSITION && has_byte_at(after))
        goto_end();
}

// The file is shorter than what was read of it: it was truncated, and is
// read again from its start. The size before it is shown.
file_pos start_over()
{
    buf_attach(0, 0);
    linenum_reset();
    file_pos size = buf_length();
    goto_end();
    return size;
}

// The bottom line: what happened to the file while that is news, else
// what the viewer is doing.
void show_bottom(const char *news)
{
    if (!news) {
        show_notice("Waiting for data");
        return;
    }
    show_bottom_line(news);
}

// Whether the input can be read again from its start: a named regular
// file, or the command of --exec.
bool can_refresh()
{
    return input_is_command() || (input_named && !input_stream);
}

// "Refreshed 06:12:03, every 2 s": when the screen was last read, and a
// command's end once it came.
void show_watch_notice(time_t when)
{
    char clock_text[16], notice[120];
    tm local;
    strftime(clock_text, sizeof clock_text, "%H:%M:%S", localtime_r(&when, &local));
    const char *ended = input_is_command() ? exec_status_text() : nullptr;
    snprintf(notice, sizeof notice, "Refreshed %s%s%s, every %d.%d s", clock_text,
             ended ? ", " : "", ended ? ended : "", watch_ms / 1000, watch_ms % 1000 / 100);
    show_notice(notice);
}

// Where line n (from 1) begins, or NO_POSITION when the input has fewer
// lines or the count was interrupted.
file_pos line_start(int64_t n)
{
    int64_t newlines = 0;
    for (file_pos at = 0; n >= 2;) {
        if (pending_signals)
            return NO_POSITION;
        const char *data;
        int64_t len = buf_span(at, &data);
        if (len <= 0)
            return NO_POSITION;
        int64_t k = scan_find_newline(data, static_cast<size_t>(len), n - 1 - newlines);
        if (k >= 0)
            return has_byte_at(at + k + 1) ? at + k + 1 : NO_POSITION;
        newlines += scan_count_newlines(data, static_cast<size_t>(len));
        at += len;
    }
    return 0;
}

// Read the input again every watch_ms and show it from the same line
// number, until a key (then the next command) or an interrupt.
void watch_input()
{
    time_t refreshed = time(nullptr);
    bool bottom_stale = true;
    for (;;) {
        if (pending_signals & (PENDING_INTERRUPT | PENDING_KEY))
            break;
        if (pending_signals) {
            signals_process();
            if (screen_stale)
                repaint_screen();
            bottom_stale = true;
            continue;
        }
        if (bottom_stale)
            show_watch_notice(refreshed);
        bottom_stale = false;
        // Only the time, or a key: nothing is looked at in between.
        if (wait_for_input_or_key(-1, watch_ms) == -2)
            continue;
        file_pos top = screen_pos(ROW_TOP);
        int64_t line = top == NO_POSITION ? 1 : linenum_of(top);
        if (pending_signals)
            continue;
        if (refresh_input() != 0)
            continue;
        // A line gone with the new text: its end is shown instead.
        file_pos start = line_start(line > 0 ? line : 1);
        if (pending_signals)
            continue;
        if (start != NO_POSITION)
            show_position(start);
        else
            goto_end();
        refreshed = time(nullptr);
        bottom_stale = true;
    }
}

} // namespace

void watch_start()
{
    if (watch_ms > 0 && can_refresh())
        watch_input();
}

void follow_input()
{
    // Following and watching exclude each other: where the input can be
    // read again, F under --watch watches.
    if (watch_ms > 0 && can_refresh()) {
        watch_input();
        return;
    }
    buf_pipe_nonblocking(1);
    bool by_name = opt_follow_name && input_named && !input_is_pipe;
    file_watch watch;
    if (!input_is_pipe && input_named)
        watch.start(current_file_name, by_name);
    // Measured first: bytes that come while the end is shown are then
    // looked at again rather than taken as shown.
    file_pos seen = buf_length();       // file mode: the size shown
    goto_end();
    bool writer_gone = false;
    // What happened to the file, shown until news_until (0: until a key).
    const char *news = nullptr;
    char news_text[200];
    int64_t news_until = 0;
    bool bottom_stale = true;
    for (;;) {
        // A key typed is the next command, and following ends for it.
        if (pending_signals & (PENDING_INTERRUPT | PENDING_KEY))
            break;
        if (pending_signals) {
            // A new window size or a suspension: carry on at the end.
            signals_process();
            if (screen_stale)
                goto_end();
            bottom_stale = true;
            continue;
        }
        // Colours the screen still owes (a start command may have begun
        // following before the first prompt).
        if (syntax_owed()) {
            repaint_screen();
            bottom_stale = true;
        }
        if (bottom_stale)
            show_bottom(news);
        bottom_stale = false;
        // A pipe is waited on until data comes; a file until the system
        // says it changed, or its size is looked at now and then, and so is
        // a pipe that no one writes to (a named pipe may get a new writer).
        bool watch_pipe = input_is_pipe && !writer_gone;
        int wait_fd = watch_pipe ? input_fd : input_is_pipe ? -1 : watch.fd;
        int ready = wait_for_input_or_key(wait_fd, watch_pipe ? -1 : POLL_MS);
        if (ready == -2)
            continue;
        watch.drain();
        if (news && news_until && now_ms() >= news_until) {
            news = nullptr;
            bottom_stale = true;
        }
        if (input_is_pipe) {
            buf_forget_end();
            writer_gone = !has_byte_at(pipe_offset);
            if (writer_gone)
                continue;
            show_arrived();
            bottom_stale = true;
            continue;
        }
        file_pos size = buf_length();
        bool replaced = by_name && name_replaced();
        if (replaced && size > seen) {
            // Every line the old file got is shown before the new one.
            buf_forget_end();
            show_arrived();
            seen = size;
        }
        if (replaced || size < seen) {
            const char *what = replaced ? "replaced" : "truncated";
            if (by_name && reopen_file() == 0) {
                watch.watch_file();
                seen = buf_length();
                goto_end();
                snprintf(news_text, sizeof news_text, "%.150s: %s", current_file_name, what);
                news = news_text;
                news_until = 0;
            } else if (!replaced) {
                seen = start_over();
                news = "File truncated";
                news_until = now_ms() + TRUNCATED_MS;
            }
            bottom_stale = true;
            continue;
        }
        if (size == seen)
            continue;
        seen = size;
        buf_forget_end();
        show_arrived();
        bottom_stale = true;
    }
    buf_pipe_nonblocking(0);
    buf_forget_end();
}
