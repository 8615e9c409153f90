// Texts typed on the bottom line, kept by kind across runs.
//
// The file holds one entry per line: a kind byte ('/' searches, '!' shell
// commands, ':' examined names) and the text, in which only a newline
// ("\n") and the backslash itself ("\\") are escaped; every other byte but
// NUL is kept as it is. Lines that do not read back as an entry, and those
// holding a NUL, are skipped.
#pragma once

enum history_kind : int {
    HISTORY_NONE = -1,          // a text that is not remembered
    HISTORY_SEARCH = 0,         // both directions, with their modifiers in front
    HISTORY_SHELL = 1,
    HISTORY_EXAMINE = 2,
    HISTORY_HIGHLIGHT = 3,      // the patterns of *
    HISTORY_KINDS = 4,
};

// Entries kept per kind; the oldest go first.
constexpr int HISTORY_LIMIT = 100;
// Longest entry in bytes: a typed text and its modifiers.
constexpr int HISTORY_ENTRY_MAX = 127;

// Choose the file, read when history is first used: QUOREL_HISTORY names
// it ("-": none), else $XDG_STATE_HOME/quorel/history, else
// ~/.local/state/quorel/history; QUOREL_SECURE=1 keeps everything in
// memory. Forgets what was held before.
void history_load();
// Add what was typed in this run to the file: read it again under a lock
// (a file beside it with ".lock" added), put the new entries after those
// found there (each text once, where it was last typed; the newest
// HISTORY_LIMIT of each kind), and write the result as a new file (0600,
// its directories made 0700) renamed over the old one; a link stays a
// link, the file it leads to is replaced. A file that cannot be read
// whole is left as it is. A failure is kept for history_report_failure.
void history_save();
// The same from the handler of a hang-up or termination signal: only
// async-signal-safe calls, and nothing is said.
void history_save_at_hangup();
// Say on standard error why the last save failed, if it did: once the
// terminal is the user's again.
void history_report_failure();
// Add a text of n bytes as the newest of its kind, for the file at exit
// too; an empty text, one too long or one holding a NUL is refused, and a
// repeat of the newest is not recalled twice.
void history_add(int kind, const char *text, int n);
int history_count(int kind);
// Entry i of a kind, 0 the oldest; its length in *n. Not NUL-terminated.
const char *history_entry(int kind, int i, int *n);
// The file in use, or nullptr when history stays in memory.
const char *history_path();
