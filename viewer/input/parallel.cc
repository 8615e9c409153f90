#include "viewer/input/parallel.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "viewer/input/match.h"
#include "viewer/input/scan.h"
#include "viewer/process/signals.h"

namespace {

constexpr int MAX_THREADS = 8;
// A stretch: the unit of work handed to a thread.
constexpr int64_t STRETCH = 4 << 20;
// A scan shorter than this is not worth starting threads for.
constexpr int64_t MIN_SCAN = 2 * STRETCH;
// Bytes a thread reads at once; its lines of interest are shorter.
constexpr int64_t READ_SIZE = 128 << 10;
static_assert(READ_SIZE <= MATCH_REGION_MAX && READ_SIZE > MATCH_PIECE);
// Stretches each thread may run ahead of the one the main thread waits for.
constexpr int64_t AHEAD = 4;
// How often the main thread, waiting, looks at the signals.
constexpr auto POLL = std::chrono::milliseconds(10);

enum : char { PENDING, DONE, FAILED };

struct scan_job {
    file_pos from, to;
    const match_pattern *pattern;        // nullptr: count newlines
    int how;
    int64_t stretches;
    std::atomic<int64_t> next_claim;
    std::atomic<bool> stop;
    std::mutex lock;
    std::condition_variable done, room;
    std::vector<parallel_result> results;
    std::vector<char> state;             // per stretch
    int64_t taken;                       // results the main thread has taken
    int64_t window;                      // stretches in work at once
};

// Made on first use: a condition variable needs code to run, and nothing
// should run at start for a scan that may never come.
scan_job *job;
std::vector<std::thread> threads;
// Each thread's own: its read buffer and its matching state.
struct free_matcher {
    void operator()(match_worker *w) const { match_worker_free(w); }
};
struct thread_kit {
    std::unique_ptr<char[]> buffer;
    std::unique_ptr<match_worker, free_matcher> matcher;
};
std::vector<thread_kit> kits;

int processors()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > MAX_THREADS ? MAX_THREADS : static_cast<int>(n);
}

// Up to n bytes of the file at pos into into; the count (short only at the
// end of the file), or -1 on a failed read.
int64_t read_at(char *into, int64_t n, file_pos pos)
{
    int64_t got = 0;
    while (got < n) {
        ssize_t r = pread(input_fd, into + got, static_cast<size_t>(n - got), pos + got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

bool count_stretch(thread_kit &kit, parallel_result &r)
{
    char *buffer = kit.buffer.get();
    for (file_pos at = r.from; at < r.to;) {
        if (job->stop)
            return false;
        int64_t n = read_at(buffer, r.to - at < READ_SIZE ? r.to - at : READ_SIZE, at);
        if (n <= 0)
            return false;
        if (int64_t k = scan_count_newlines(buffer, static_cast<size_t>(n))) {
            r.newlines += k;
            if (r.first_newline == NO_POSITION)
                r.first_newline = at + (static_cast<const char *>(memchr(buffer, '\n', n)) - buffer);
            r.last_newline = at + (static_cast<const char *>(memrchr(buffer, '\n', n)) - buffer);
        }
        at += n;
    }
    return true;
}

// The first line start in [from, to), or NO_POSITION.
file_pos first_line_start(thread_kit &kit, file_pos from, file_pos to)
{
    if (from == job->from)
        return from;
    char *buffer = kit.buffer.get();
    for (file_pos at = from - 1; at < to - 1;) {
        if (job->stop)
            return NO_POSITION;
        int64_t n = read_at(buffer, to - 1 - at < READ_SIZE ? to - 1 - at : READ_SIZE, at);
        if (n <= 0)
            return NO_POSITION;
        if (auto *nl = static_cast<const char *>(memchr(buffer, '\n', static_cast<size_t>(n))))
            return at + (nl - buffer) + 1;
        at += n;
    }
    return NO_POSITION;
}

bool search_stretch(thread_kit &kit, parallel_result &r)
{
    char *buffer = kit.buffer.get();
    r.line_start = first_line_start(kit, r.from, r.to);
    if (job->stop)
        return false;
    if (r.line_start == NO_POSITION)
        return true;
    for (file_pos at = r.line_start;;) {
        if (job->stop)
            return false;
        // Enough for the lines that begin before the end, when short.
        int64_t want = r.to - at + MATCH_PIECE + 1;
        int64_t n = read_at(buffer, want < READ_SIZE ? want : READ_SIZE, at);
        if (n < 0)
            return false;
        auto *last = static_cast<const char *>(memrchr(buffer, '\n', static_cast<size_t>(n)));
        if (!last) {
            // A line longer than a read, or the last one, without a newline.
            if (n > 0)
                r.found = at;
            else
                r.next_start = at;
            return true;
        }
        int64_t len = last - buffer + 1;
        // The pool shows NUL bytes as '@', and so must the scan.
        scan_replace_nuls(buffer, static_cast<size_t>(len));
        match_region(kit.matcher.get(), job->pattern, job->how, buffer, len);
        bool unfit;
        int64_t start = match_region_next(kit.matcher.get(), 0, &unfit);
        if (start == -2)
            start = 0;   // PCRE2 gave up: the main thread looks from here
        // Only the lines that begin in the stretch are its own.
        int64_t own = len;
        if (at + len > r.to) {
            auto *nl = static_cast<const char *>(memchr(buffer + (r.to - 1 - at), '\n',
                                                        static_cast<size_t>(len - (r.to - 1 - at))));
            own = nl - buffer + 1;
        }
        if (start < own) {
            r.newlines += scan_count_newlines(buffer, static_cast<size_t>(start));
            r.found = at + start;
            return true;
        }
        r.newlines += scan_count_newlines(buffer, static_cast<size_t>(own));
        if (at + own >= r.to) {
            r.next_start = at + own;
            return true;
        }
        at += len;
    }
}

void run_thread(thread_kit *kit)
{
    for (;;) {
        int64_t k = job->next_claim.fetch_add(1);
        if (k >= job->stretches)
            return;
        {
            std::unique_lock<std::mutex> hold(job->lock);
            job->room.wait(hold, [k] { return job->stop || k < job->taken + job->window; });
        }
        if (job->stop)
            return;
        parallel_result r = {};
        r.from = job->from + k * STRETCH;
        r.to = r.from + STRETCH < job->to ? r.from + STRETCH : job->to;
        r.first_newline = r.last_newline = r.line_start = r.found = r.next_start = NO_POSITION;
        bool ok = job->pattern ? search_stretch(*kit, r) : count_stretch(*kit, r);
        {
            std::lock_guard<std::mutex> hold(job->lock);
            job->results[k] = r;
            job->state[k] = ok ? DONE : FAILED;
        }
        job->done.notify_all();
        if (!ok)
            return;
    }
}

} // namespace

bool parallel_worth(file_pos from, file_pos to)
{
    return !input_is_pipe && input_fd >= 0 && to - from >= MIN_SCAN && processors() > 1;
}

void parallel_start(file_pos from, file_pos to, const match_pattern *pattern, int how)
{
    if (!job)
        job = new scan_job;
    int n = processors();
    job->from = from;
    job->to = to;
    job->pattern = pattern;
    job->how = how;
    job->stretches = (to - from + STRETCH - 1) / STRETCH;
    job->next_claim = 0;
    job->stop = false;
    job->results.assign(static_cast<size_t>(job->stretches), parallel_result{});
    job->state.assign(static_cast<size_t>(job->stretches), PENDING);
    job->taken = 0;
    job->window = AHEAD * n;
    // Everything a thread needs is made here, where running out of memory
    // ends the viewer the usual way.
    while (static_cast<int>(kits.size()) < n)
        kits.push_back({std::unique_ptr<char[]>(new char[READ_SIZE]),
                        std::unique_ptr<match_worker, free_matcher>(match_worker_new())});
    // Signals are for the main thread alone: its handlers may jump.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    for (int i = 0; i < n; i++) {
        try {
            threads.emplace_back(run_thread, &kits[static_cast<size_t>(i)]);
        } catch (const std::system_error &) {
            break;   // fewer threads; none at all, and the caller reads alone
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

int parallel_next(parallel_result *r)
{
    if (!job || job->taken == job->stretches)
        return 0;
    std::unique_lock<std::mutex> hold(job->lock);
    auto k = static_cast<size_t>(job->taken);
    while (job->state[k] == PENDING) {
        if (pending_signals)
            return -1;
        if (threads.empty())
            return -2;
        job->done.wait_for(hold, POLL);
    }
    if (job->state[k] == FAILED)
        return pending_signals ? -1 : -2;
    *r = job->results[k];
    job->taken++;
    hold.unlock();
    job->room.notify_all();
    return 1;
}

void parallel_stop()
{
    if (!job)
        return;
    {
        std::lock_guard<std::mutex> hold(job->lock);
        job->stop = true;
    }
    job->room.notify_all();
    for (std::thread &t : threads)
        t.join();
    threads.clear();
}
