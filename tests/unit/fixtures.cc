#include "tests/unit/fixtures.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <ftw.h>

#include "viewer/control/program.h"
#include "viewer/control/start.h"
#include "viewer/control/prompt.h"
#include "viewer/input/buffer.h"
#include "viewer/input/log.h"
#include "viewer/options/option.h"
#include "viewer/process/signals.h"
#include "viewer/terminal/term.h"

int temp_file(const std::string &data)
{
    char path[] = "/tmp/unit_testXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return -1;
    unlink(path);
    if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

void input_attach(int fd, int pipe_mode, int buffers)
{
    input_fd = fd;
    input_is_pipe = pipe_mode;
    buf_attach(buffers, 0);
}

int input_from_text(const std::string &data, int buffers)
{
    int fd = temp_file(data);
    if (fd >= 0)
        input_attach(fd, 0, buffers);
    return fd;
}

int input_from_pipe(const std::string &data, bool end, int buffers)
{
    int p[2];
    if (pipe(p) < 0)
        return -2;
    if (write(p[1], data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        close(p[0]);
        close(p[1]);
        return -2;
    }
    if (end) {
        close(p[1]);
        p[1] = -1;
    }
    input_attach(p[0], 1, buffers);
    return p[1];
}

pid_t input_from_child(const std::string &chunk, int64_t length, int buffers)
{
    int p[2];
    if (chunk.empty() || pipe(p) < 0)
        return -1;
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        close(p[0]);
        for (int64_t done = 0; done < length;) {
            size_t from = static_cast<size_t>(done % static_cast<int64_t>(chunk.size()));
            size_t want = chunk.size() - from;
            if (static_cast<int64_t>(want) > length - done)
                want = static_cast<size_t>(length - done);
            ssize_t k = write(p[1], chunk.data() + from, want);
            if (k <= 0)
                _exit(1);
            done += k;
        }
        _exit(0);
    }
    close(p[1]);
    input_attach(p[0], 1, buffers);
    return child;
}

void input_close()
{
    // Descriptor 0 is the test binary's own standard input, never ours.
    if (input_fd > 0)
        close(input_fd);
    input_fd = -1;
    input_is_pipe = 0;
}

void settings_reset()
{
    prompt_setup();
    // option_defaults forgets the every-file command without freeing it.
    free(first_command);
    option_defaults();
    tag_requested = 0;
    start_command_given = 0;
    log_file_name = nullptr;
    log_overwrite = 0;
    pending_signals = 0;
}

void screen_reset(int rows, int cols)
{
    screen_rows = rows;
    screen_cols = cols;
    standout_on_width = standout_off_width = 0;
    underline_on_width = underline_off_width = 0;
    bold_on_width = bold_off_width = 0;
}

std::string file_text(int fd)
{
    std::string text;
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    return text;
}

std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_bytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string temp_dir(const char *prefix)
{
    std::string path = std::string("/tmp/") + prefix + "XXXXXX";
    return mkdtemp(path.data()) ? path : std::string();
}

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

} // namespace

int remove_tree(const std::string &path)
{
    return nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

saved_env env_save(const char *name)
{
    const char *value = getenv(name);
    return {name, value ? value : "", value != nullptr};
}

void env_restore(const saved_env &saved)
{
    if (saved.was_set)
        setenv(saved.name.c_str(), saved.value.c_str(), 1);
    else
        unsetenv(saved.name.c_str());
}
