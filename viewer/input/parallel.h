// Long scans of a named file shared out among a few threads: newline
// counts, and the search's finding of the lines worth a look. Each thread
// reads its own stretches with pread; the buffers, the terminal and the
// tables stay with the main thread, which takes the results in file order.
#pragma once
#include <cstdint>

#include "viewer/input/buffer.h"

struct match_pattern;

// What a stretch [from, to) of the file gave its thread.
struct parallel_result {
    file_pos from, to;
    // A count: the newlines in the stretch, the first and the last of them
    // (NO_POSITION when none). A search: the newlines from line_start up to
    // found, or up to next_start when nothing was found.
    int64_t newlines;
    file_pos first_newline, last_newline;
    // A search: the first line that begins in the stretch (NO_POSITION when
    // none does), the first of those lines worth a look (one PCRE2 finds a
    // match in, or one only regexec can judge), and where the first line
    // after the stretch begins.
    file_pos line_start, found, next_start;
};

// Whether threads would pay for a scan of [from, to) of the current input:
// a named file, a long stretch, more than one processor.
bool parallel_worth(file_pos from, file_pos to);
// Begin counting the newlines of [from, to); or, with a pattern (whose
// match_fast holds), finding in the lines that begin there (from being a
// line start) the lines worth a look, as match_region_next picks them.
void parallel_start(file_pos from, file_pos to, const match_pattern *pattern, int how);
// The result of the next stretch in file order: 1; 0 when all are done;
// -1 when a signal is pending; -2 when the threads could not go on (the
// caller reads on by itself from the last result it took).
int parallel_next(parallel_result *r);
// Stop the threads and wait for them to end.
void parallel_stop();
