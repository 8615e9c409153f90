#include "viewer/control/history.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "viewer/process/shell.h"
#include "viewer/terminal/message.h"

namespace {

// The byte in front of each line of the file, by kind.
constexpr char KIND_BYTES[HISTORY_KINDS] = {'/', '!', ':', '*'};
constexpr char STATE_FILE[] = "/quorel/history";
constexpr char DEFAULT_STATE_HOME[] = "/.local/state";
constexpr char LOCK_SUFFIX[] = ".lock";
// A kind byte, every byte escaped, a newline.
constexpr int LINE_MAX_BYTES = 1 + 2 * HISTORY_ENTRY_MAX + 1;
// What the viewer writes stays far below this; a larger file is not one of
// its own: only its beginning is recalled, and it is never rewritten.
constexpr long READ_LIMIT = 1L << 20;
// Another viewer holds the lock only while it saves: a few milliseconds.
// One that holds it this long is stuck, and is not waited for.
constexpr long LOCK_PATIENCE_MS = 5000;
constexpr long LOCK_POLL_MS = 10;
// Links followed to the file itself, as the system allows.
constexpr int LINK_HOPS = 40;
// Failures without an errno of their own.
constexpr int NOT_REGULAR = -1;
constexpr int LOCK_HELD = -2;

// A ring of the newest entries of one kind.
struct entry_list {
    char text[HISTORY_LIMIT][HISTORY_ENTRY_MAX];
    unsigned char length[HISTORY_LIMIT];
    int first;      // slot of the oldest entry
    int count;
};

// What up and down recall: the file as read when first used, and what was
// typed since.
entry_list lists[HISTORY_KINDS];
// What was typed in this run, each text once, in the order last typed:
// only these are added to the file at exit, after what other viewers have
// put there meanwhile.
entry_list added[HISTORY_KINDS];
// The file as it stands at exit, then the merge written back.
entry_list merged[HISTORY_KINDS];
char file_path[PATH_MAX];   // empty: history stays in memory
// The file is read when history is first used, not at start: most runs
// never look at it, and the first screen need not wait for it.
bool file_due;
char file_image[HISTORY_KINDS * HISTORY_LIMIT * LINE_MAX_BYTES];
// Why the last save failed (an errno, NOT_REGULAR or LOCK_HELD); 0 if none.
int save_failure;

bool valid_kind(int kind)
{
    return kind >= 0 && kind < HISTORY_KINDS;
}

// A line holding a NUL could not be read back: such a text is refused.
bool valid_text(int kind, const char *text, int n)
{
    return valid_kind(kind) && n > 0 && n <= HISTORY_ENTRY_MAX &&
           !memchr(text, '\0', static_cast<size_t>(n));
}

int slot_of(const entry_list &list, int i)
{
    return (list.first + i) % HISTORY_LIMIT;
}

bool holds(const entry_list &list, int i, const char *text, int n)
{
    int slot = slot_of(list, i);
    return list.length[slot] == n && memcmp(list.text[slot], text, static_cast<size_t>(n)) == 0;
}

// Append as the newest; the oldest goes when the list is full.
void push(entry_list &list, const char *text, int n)
{
    int slot = slot_of(list, list.count);
    if (list.count == HISTORY_LIMIT)
        list.first = (list.first + 1) % HISTORY_LIMIT;
    else
        list.count++;
    memcpy(list.text[slot], text, static_cast<size_t>(n));
    list.length[slot] = static_cast<unsigned char>(n);
}

// Append, unless the text is already the newest.
bool store(entry_list &list, const char *text, int n)
{
    if (list.count > 0 && holds(list, list.count - 1, text, n))
        return false;
    push(list, text, n);
    return true;
}

// Append, taking out an earlier copy: each text once, where it was last
// given. The oldest that go when the list is full are then exactly those
// that the whole sequence, kept each once, would not keep among its last.
void store_once(entry_list &list, const char *text, int n)
{
    for (int i = 0; i < list.count; i++) {
        if (!holds(list, i, text, n))
            continue;
        for (int k = i; k + 1 < list.count; k++) {
            int to = slot_of(list, k), from = slot_of(list, k + 1);
            memcpy(list.text[to], list.text[from], list.length[from]);
            list.length[to] = list.length[from];
        }
        list.count--;
        break;
    }
    push(list, text, n);
}

void clear(entry_list *set)
{
    for (int kind = 0; kind < HISTORY_KINDS; kind++)
        set[kind].first = set[kind].count = 0;
}

// One line of the file, without its newline. A line that is not an entry
// (another program's, or damaged) is passed over.
void take_line(const char *line, int n, entry_list *into, bool once)
{
    const char *kind_byte = n > 1 ? static_cast<const char *>(memchr(KIND_BYTES, line[0], HISTORY_KINDS))
                                  : nullptr;
    if (!kind_byte)
        return;
    char text[HISTORY_ENTRY_MAX];
    int length = 0;
    for (int i = 1; i < n; i++) {
        char c = line[i];
        if (c == '\\') {
            if (++i == n || (line[i] != 'n' && line[i] != '\\'))
                return;
            c = line[i] == 'n' ? '\n' : '\\';
        }
        if (length == HISTORY_ENTRY_MAX)
            return;
        text[length++] = c;
    }
    int kind = static_cast<int>(kind_byte - KIND_BYTES);
    if (!valid_text(kind, text, length))
        return;
    if (once)
        store_once(into[kind], text, length);
    else
        store(into[kind], text, length);
}

// Read the entries of a file into a set of lists: 0 when it was read whole
// or is not there, else why not. Only calls a signal handler may make.
int read_entries(const char *path, entry_list *into, bool once)
{
    // Not blocking: a FIFO put where the file should be must not hang; it
    // is refused below like any file that is not regular.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;
    struct stat st;
    int failure = 0;
    if (fstat(fd, &st) != 0)
        failure = errno;
    else if (S_ISDIR(st.st_mode))
        failure = EISDIR;
    else if (!S_ISREG(st.st_mode))
        failure = NOT_REGULAR;
    char chunk[4096];
    char line[LINE_MAX_BYTES];
    int used = 0;
    bool too_long = false;
    for (long total = 0; failure == 0;) {
        ssize_t k = read(fd, chunk, sizeof chunk);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0)
            failure = errno;
        if (k <= 0)
            break;
        total += k;
        if (total > READ_LIMIT)
            failure = EFBIG;
        for (ssize_t i = 0; i < k; i++) {
            if (chunk[i] == '\n') {
                if (!too_long)
                    take_line(line, used, into, once);
                used = 0;
                too_long = false;
            } else if (used < LINE_MAX_BYTES) {
                line[used++] = chunk[i];
            } else {
                too_long = true;
            }
        }
    }
    // The file is only ever replaced whole, so a last line without its
    // newline was written so, by hand or by another program: it is kept.
    if (failure == 0 && used > 0 && !too_long)
        take_line(line, used, into, once);
    close(fd);
    return failure;
}

// Where the file goes; false when history stays in memory.
bool choose_path()
{
    file_path[0] = '\0';
    if (secure_mode())
        return false;
    const char *named = getenv("QUOREL_HISTORY");
    const char *state = getenv("XDG_STATE_HOME");
    const char *home = getenv("HOME");
    int n = -1;
    if (named && strcmp(named, "-") == 0)
        return false;
    if (named && *named)
        n = snprintf(file_path, sizeof file_path, "%s", named);
    // A relative state directory is to be ignored, as if it were not set.
    else if (state && state[0] == '/')
        n = snprintf(file_path, sizeof file_path, "%s%s", state, STATE_FILE);
    else if (home && *home)
        n = snprintf(file_path, sizeof file_path, "%s%s%s", home, DEFAULT_STATE_HOME, STATE_FILE);
    if (n <= 0 || n >= static_cast<int>(sizeof file_path)) {
        file_path[0] = '\0';
        return false;
    }
    return true;
}

// to = from, then more (n bytes) after its first keep bytes; false when
// that does not fit in PATH_MAX. Signal-safe, unlike snprintf.
bool compose(char *to, const char *from, size_t keep, const char *more, size_t n)
{
    if (keep + n >= PATH_MAX)
        return false;
    memmove(to, from, keep);
    memcpy(to + keep, more, n);
    to[keep + n] = '\0';
    return true;
}

// The file the path names once its links are followed: the new file is
// written beside it and renamed over it, so that a link stays a link and
// the file it points to is the one kept. 0, or why it cannot be found.
int follow_links(char *target)
{
    memcpy(target, file_path, sizeof file_path);
    for (int hop = 0; hop < LINK_HOPS; hop++) {
        char link[PATH_MAX];
        ssize_t n = readlink(target, link, sizeof link);
        // Not a link (or not there yet): the file itself.
        if (n < 0)
            return 0;
        if (n == sizeof link)
            return ENAMETOOLONG;
        const char *slash = strrchr(target, '/');
        size_t keep = link[0] == '/' || !slash ? 0 : static_cast<size_t>(slash - target) + 1;
        if (!compose(target, target, keep, link, static_cast<size_t>(n)))
            return ENAMETOOLONG;
    }
    return ELOOP;
}

// The directories above the file, those missing made private to the user.
void make_parents(const char *file)
{
    char path[PATH_MAX];
    memcpy(path, file, sizeof path);
    for (char *slash = strchr(path + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(path, 0700);
        *slash = '/';
    }
}

bool interrupt_pending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGINT) == 1;
}

// The lock that viewers sharing the file take while they read and rewrite
// it: a descriptor, or -1 with the failure in *failure. A file system
// without locks still gets its file, only unguarded against a viewer
// quitting at the very same moment.
int take_lock(const char *lock_path, int *failure)
{
    int fd = open(lock_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *failure = errno;
        return -1;
    }
    for (long waited = 0;; waited += LOCK_POLL_MS) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR))
            return fd;
        // The user who quits may not wait for a stuck viewer: an interrupt
        // gives up, as the patience running out does.
        if (waited >= LOCK_PATIENCE_MS || interrupt_pending()) {
            close(fd);
            *failure = waited >= LOCK_PATIENCE_MS ? LOCK_HELD : EINTR;
            return -1;
        }
        struct timespec pause = {0, LOCK_POLL_MS * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// The whole file as it is to be written from a set of lists; its length.
size_t encode(const entry_list *from)
{
    size_t n = 0;
    for (int kind = 0; kind < HISTORY_KINDS; kind++) {
        const entry_list &list = from[kind];
        for (int i = 0; i < list.count; i++) {
            int slot = slot_of(list, i);
            const char *text = list.text[slot];
            file_image[n++] = KIND_BYTES[kind];
            for (int k = 0; k < list.length[slot]; k++) {
                if (text[k] == '\n' || text[k] == '\\')
                    file_image[n++] = '\\';
                file_image[n++] = text[k] == '\n' ? 'n' : text[k];
            }
            file_image[n++] = '\n';
        }
    }
    return n;
}

bool write_all(int fd, const char *data, size_t n)
{
    while (n > 0) {
        ssize_t k = write(fd, data, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (k == 0)
                errno = EIO;
            return false;
        }
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Write the image as a new file beside target and rename it over target,
// so that no reader ever sees half a file: 0, or why not.
int replace_file(const char *target, size_t size)
{
    char temp[PATH_MAX];
    char digits[24];
    int d = static_cast<int>(sizeof digits);
    digits[--d] = '\0';
    long pid = getpid();
    do
        digits[--d] = static_cast<char>('0' + pid % 10);
    while ((pid /= 10) > 0);
    digits[--d] = '.';
    size_t target_length = strlen(target);
    if (!compose(temp, target, target_length, digits + d, strlen(digits + d)))
        return ENAMETOOLONG;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int failure = 0;
    if (fchmod(fd, 0600) != 0 || !write_all(fd, file_image, size) || fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(temp, target) != 0)
        failure = errno;
    if (failure != 0)
        unlink(temp);
    return failure;
}

bool anything_added()
{
    for (const entry_list &list : added)
        if (list.count > 0)
            return true;
    return false;
}

// Read the file again under the lock, put this run's entries after what is
// there, and write the result back: 0, or why the file was left as it was.
// A file that cannot be read whole is never rewritten from the part read.
// Only calls a signal handler may make; signals are held off meanwhile.
int merge_and_write()
{
    char target[PATH_MAX], lock_path[PATH_MAX];
    int failure = follow_links(target);
    if (failure != 0)
        return failure;
    if (!compose(lock_path, target, strlen(target), LOCK_SUFFIX, sizeof LOCK_SUFFIX - 1))
        return ENAMETOOLONG;
    make_parents(target);
    int lock = take_lock(lock_path, &failure);
    if (lock < 0)
        return failure;
    clear(merged);
    failure = read_entries(target, merged, true);
    if (failure == 0) {
        for (int kind = 0; kind < HISTORY_KINDS; kind++) {
            const entry_list &list = added[kind];
            for (int i = 0; i < list.count; i++) {
                int slot = slot_of(list, i);
                store_once(merged[kind], list.text[slot], list.length[slot]);
            }
        }
        failure = replace_file(target, encode(merged));
    }
    close(lock);
    return failure;
}

// Save what was typed, if anything was, with every signal held off: a
// hang-up during the save of the exit waits until the new file is in place
// or gone, and a second signal cannot break into the handler's save.
int save_held()
{
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    int failure = 0;
    if (file_path[0] && anything_added()) {
        failure = merge_and_write();
        if (failure == 0)
            clear(added);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return failure;
}

// Read the file chosen at load, the first time history is used. What
// cannot be read is only not recalled: the file is reread at exit.
void read_when_due()
{
    if (!file_due)
        return;
    read_entries(file_path, lists, false);
    file_due = false;
}

} // namespace

void history_load()
{
    clear(lists);
    clear(added);
    save_failure = 0;
    file_due = choose_path();
}

void history_save()
{
    save_failure = save_held();
}

void history_save_at_hangup()
{
    save_held();
}

void history_report_failure()
{
    if (save_failure == 0)
        return;
    const char *reason = save_failure == NOT_REGULAR ? "not a regular file"
                         : save_failure == LOCK_HELD ? "locked by another viewer"
                                                      : strerror(save_failure);
    char message[200];
    snprintf(message, sizeof message, "quorel: history not saved: %s", reason);
    save_failure = 0;
    show_error(message);
}

void history_add(int kind, const char *text, int n)
{
    read_when_due();
    if (!valid_text(kind, text, n))
        return;
    store(lists[kind], text, n);
    if (!file_path[0])
        return;
    // The hang-up handler saves from this list: it must never see it half
    // changed.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    store_once(added[kind], text, n);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

int history_count(int kind)
{
    read_when_due();
    return valid_kind(kind) ? lists[kind].count : 0;
}

const char *history_entry(int kind, int i, int *n)
{
    const entry_list &list = lists[kind];
    int slot = slot_of(list, i);
    *n = list.length[slot];
    return list.text[slot];
}

const char *history_path()
{
    return file_path[0] ? file_path : nullptr;
}
