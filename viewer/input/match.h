// Regular expressions matched against the input as the screen shows it.
// regexec judges every match; a broader PCRE2 pattern finds the few places
// worth asking it about, fast enough for whole files and within bounds on
// lines of any length.
#pragma once
#include <cstddef>
#include <cstdint>

// Raw lines are handed out in pieces of at most this many bytes: the
// records that a search stops at within a long line.
constexpr int MATCH_PIECE = 1023;
// The most bytes of whole lines looked at as one region.
constexpr int64_t MATCH_REGION_MAX = 256 * 1024;

// A compiled pattern, and the matching state of one thread.
struct match_pattern;
struct match_worker;

// A match: offsets into the subject, `to` exclusive.
struct match_span {
    int64_t from, to;
};

// How lines are turned into what is matched, from the settings in force.
constexpr int MATCH_FOLD_CASE = 1;       // ASCII capitals as small letters (-i)
constexpr int MATCH_OVERSTRIKE = 2;      // overstrikes down to what is shown
constexpr int MATCH_UTF8 = 4;            // characters are UTF-8 sequences
constexpr int MATCH_COLOUR = 8;          // colour and link sequences passed, so not text
// Given to match_shown alone: the bytes end where a newline follows, and a
// carriage return right before it is part of the line end, never shown.
constexpr int MATCH_LINE_END = 16;
int match_how();

// The subject is part of a line: no line begins at its first byte, or
// the line goes on after its last.
constexpr int MATCH_NOT_BOL = 1;
constexpr int MATCH_NOT_EOL = 2;

// Compile an extended regular expression with these regcomp flags; nullptr
// with the message in error (error_size bytes, terminated) when it fails.
match_pattern *match_compile(const char *pattern, int cflags, char *error, size_t error_size);
void match_free(match_pattern *p);
// Whether PCRE2 can find candidates for the pattern in lines matched as
// `how` says; otherwise regexec judges every line alone. Made ready here,
// in the main thread, for match_region with that `how`.
bool match_fast(match_pattern *p, int how);
// The pattern was compiled for a UTF-8 locale.
bool match_utf8(const match_pattern *p);

// For a thread other than the main one, made by the main one; nullptr
// (where a worker is taken) stands for the main thread's own.
match_worker *match_worker_new();
void match_worker_free(match_worker *w);

// The n bytes at raw as the screen shows them, into out (n bytes of room):
// with MATCH_OVERSTRIKE each overstruck group (characters joined by
// backspaces) as the one character shown, the one struck last unless that
// is an underscore; with MATCH_COLOUR without the sequences the screen
// passes or drops (a sequence cut short by the end of the bytes is text, as
// the screen shows it at the end of a line); with MATCH_LINE_END without a
// last carriage return; with MATCH_FOLD_CASE small letters. When origin is
// given, origin[i] is the offset in raw of the group that gives out[i], and
// origin[result] = n. Returns the length.
size_t match_shown(const char *raw, size_t n, char *out, int32_t *origin, int how);
// Whether match_shown may change more than the case of letters.
bool match_reshaped(const char *raw, size_t n, int how);

// Call visit with each match of the line text subject[0, len) (subject[len]
// being a 0 byte, as regexec may read to one) that starts at or after from: the first one, then the first that starts at or after the
// offset visit returns, until it returns -1. Each regexec call sees a
// bounded stretch, so a match longer than many kilobytes may be missed.
// 0 when done, -1 when a signal is pending or deadline (CLOCK_MONOTONIC
// nanoseconds, 0 for none) has passed.
using match_visit = int64_t (*)(void *context, const match_span &m);
int match_each(const match_pattern *p, match_worker *w, const char *subject, int64_t len,
               int64_t from, int flags, int64_t deadline, match_visit visit, void *context);
// Whether the line (line[len] being a 0 byte) holds a match, for lines of
// at most a piece: 1 or 0.
int match_line(const match_pattern *p, const char *line, size_t len);

// Look at data[0, len): whole lines, each ending with a newline, at most
// MATCH_REGION_MAX bytes, matched as `how` says (as shown: coloured lines
// and those ending in a carriage return too). The worker keeps the pattern
// and the data until the next call.
void match_region(match_worker *w, const match_pattern *p, int how, const char *data, int64_t len);
// The start of the first line of the region at or after off (a line start)
// that needs a look: one where PCRE2 finds a match (*unfit false), or one it
// cannot judge (*unfit true): longer than a piece, not UTF-8 in a UTF-8
// locale, or overstruck. len when there is none; -2 when PCRE2 gave up.
int64_t match_region_next(match_worker *w, int64_t off, bool *unfit);
