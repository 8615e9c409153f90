#include "viewer/control/history.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "viewer/process/shell.h"

namespace {

// The byte in front of each line of the file, by kind.
constexpr char KIND_BYTES[HISTORY_KINDS] = {'/', '!', ':'};
constexpr char STATE_FILE[] = "/quorel/history";
constexpr char DEFAULT_STATE_HOME[] = "/.local/state";
// A kind byte, every byte escaped, a newline.
constexpr int LINE_MAX_BYTES = 1 + 2 * HISTORY_ENTRY_MAX + 1;
// What the viewer writes stays far below this; a larger file is not one of
// its own, and only its beginning is read.
constexpr long READ_LIMIT = 1L << 20;

// A ring of the newest entries of one kind.
struct entry_list {
    char text[HISTORY_LIMIT][HISTORY_ENTRY_MAX];
    unsigned char length[HISTORY_LIMIT];
    int first;      // slot of the oldest entry
    int count;
};

entry_list lists[HISTORY_KINDS];
char file_path[PATH_MAX];   // empty: history stays in memory
bool unsaved;               // entries added since the file was read
// The file is read when history is first used, not at start: most runs
// never look at it, and the first screen need not wait for it.
bool file_due;
char file_image[HISTORY_KINDS * HISTORY_LIMIT * LINE_MAX_BYTES];
// A hang-up may end the viewer in a signal handler, where nothing can be
// encoded: the image is kept whole after every addition, and written as
// it stands at any exit.
size_t image_size;
volatile sig_atomic_t image_ready;
char temp_path[PATH_MAX];     // the new file before it is renamed, named at load

bool valid_kind(int kind)
{
    return kind >= 0 && kind < HISTORY_KINDS;
}

bool store(int kind, const char *text, int n)
{
    if (!valid_kind(kind) || n <= 0 || n > HISTORY_ENTRY_MAX)
        return false;
    entry_list &list = lists[kind];
    if (list.count > 0) {
        int newest = (list.first + list.count - 1) % HISTORY_LIMIT;
        if (list.length[newest] == n && memcmp(list.text[newest], text, static_cast<size_t>(n)) == 0)
            return false;
    }
    int slot = (list.first + list.count) % HISTORY_LIMIT;
    if (list.count == HISTORY_LIMIT)
        list.first = (list.first + 1) % HISTORY_LIMIT;
    else
        list.count++;
    memcpy(list.text[slot], text, static_cast<size_t>(n));
    list.length[slot] = static_cast<unsigned char>(n);
    return true;
}

// One line of the file, without its newline. A line that is not an entry
// (another program's, or damaged) is passed over.
void take_line(const char *line, int n)
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
    store(static_cast<int>(kind_byte - KIND_BYTES), text, length);
}

void read_file()
{
    // Not blocking: a FIFO put where the file should be must not hang the
    // start; it is refused below like any file that is not regular.
    int fd = open(file_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return;
    }
    char chunk[4096];
    char line[LINE_MAX_BYTES];
    int used = 0;
    bool too_long = false;
    for (long total = 0; total < READ_LIMIT;) {
        ssize_t k = read(fd, chunk, sizeof chunk);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        total += k;
        for (ssize_t i = 0; i < k; i++) {
            if (chunk[i] == '\n') {
                if (!too_long)
                    take_line(line, used);
                used = 0;
                too_long = false;
            } else if (used < LINE_MAX_BYTES) {
                line[used++] = chunk[i];
            } else {
                too_long = true;
            }
        }
    }
    // A last line without its newline may be a write cut short: not taken.
    close(fd);
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

// The directories above the file, those missing made private to the user.
void make_parents()
{
    char path[PATH_MAX];
    memcpy(path, file_path, sizeof path);
    for (char *slash = strchr(path + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(path, 0700);
        *slash = '/';
    }
}

// The whole file as it is to be written; its length.
size_t encode_all()
{
    size_t n = 0;
    for (int kind = 0; kind < HISTORY_KINDS; kind++) {
        for (int i = 0; i < lists[kind].count; i++) {
            int length;
            const char *text = history_entry(kind, i, &length);
            file_image[n++] = KIND_BYTES[kind];
            for (int k = 0; k < length; k++) {
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
        if (k <= 0)
            return false;
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// Read the file chosen at load, the first time history is used.
void read_when_due()
{
    if (!file_due)
        return;
    file_due = false;
    read_file();
}

// Another viewer's file is replaced whole, never mixed with this one: the
// last to rename wins, and no reader ever sees half a file. Only calls a
// signal handler may make.
void write_image()
{
    if (!unsaved || !image_ready || !temp_path[0])
        return;
    make_parents();
    int fd = open(temp_path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    bool ok = fchmod(fd, 0600) == 0 && write_all(fd, file_image, image_size) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp_path, file_path) == 0)
        unsaved = false;
    else
        unlink(temp_path);
}

} // namespace

void history_load()
{
    for (entry_list &list : lists)
        list.first = list.count = 0;
    unsaved = false;
    image_ready = 0;
    temp_path[0] = '\0';
    file_due = choose_path();
    if (file_due) {
        int n = snprintf(temp_path, sizeof temp_path, "%s.%ld", file_path, long(getpid()));
        if (n <= 0 || n >= static_cast<int>(sizeof temp_path))
            temp_path[0] = '\0';
    }
}

void history_save()
{
    // A hang-up comes with the exit that saves (the terminal went away):
    // it waits until the new file is in place or gone.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    write_image();
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

void history_save_at_hangup()
{
    write_image();
}

void history_add(int kind, const char *text, int n)
{
    read_when_due();
    if (store(kind, text, n)) {
        unsaved = true;
        image_ready = 0;
        image_size = encode_all();
        image_ready = 1;
    }
}

int history_count(int kind)
{
    read_when_due();
    return valid_kind(kind) ? lists[kind].count : 0;
}

const char *history_entry(int kind, int i, int *n)
{
    const entry_list &list = lists[kind];
    int slot = (list.first + i) % HISTORY_LIMIT;
    *n = list.length[slot];
    return list.text[slot];
}

const char *history_path()
{
    return file_path[0] ? file_path : nullptr;
}
