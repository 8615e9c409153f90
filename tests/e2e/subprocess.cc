#include "tests/e2e/subprocess.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<std::string> build_env(const std::vector<std::string> &changes)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        std::string s = *e;
        if (s.rfind("MIVO=", 0) == 0 || s.rfind("TERM=", 0) == 0)
            continue;
        env.push_back(s);
    }
    env.push_back("TERM=dumb");
    apply_env_changes(env, changes);
    return env;
}

} // namespace

void apply_env_changes(std::vector<std::string> &env, const std::vector<std::string> &changes)
{
    for (const std::string &c : changes) {
        std::string name = c.substr(0, c.find('='));
        std::erase_if(env, [&](const std::string &s) { return s.rfind(name + "=", 0) == 0; });
        if (c.find('=') != std::string::npos)
            env.push_back(c);
    }
}

std::vector<char *> c_strings(const std::vector<std::string> &strings)
{
    std::vector<char *> v;
    for (const std::string &s : strings)
        v.push_back(const_cast<char *>(s.c_str()));
    v.push_back(nullptr);
    return v;
}

run_result run_program(const std::vector<std::string> &argv, const run_options &opts)
{
    int in[2], out[2], err[2];
    if (pipe(in) < 0 || pipe(out) < 0 || pipe(err) < 0)
        return {};
    std::vector<std::string> env = build_env(opts.env);
    std::vector<char *> cargv = c_strings(argv), cenv = c_strings(env);

    pid_t pid = fork();
    if (pid == 0) {
        if (opts.stdin_null || opts.stdin_file) {
            int fd = open(opts.stdin_file ? opts.stdin_file : "/dev/null", O_RDONLY);
            dup2(fd, 0);
        } else {
            dup2(in[0], 0);
        }
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) < 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (opts.stdin_null || opts.stdin_file) {
        close(in[1]);
        in[1] = -1;
    }

    // Feed the input and drain both outputs together so that no pipe fills.
    run_result r;
    size_t written = 0;
    signal(SIGPIPE, SIG_IGN);
    if (in[1] >= 0 && opts.input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    // A blocking write of a large input would wait for the program to read
    // it while the program waits for its output to be drained.
    if (in[1] >= 0)
        fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
    while (true) {
        struct pollfd fds[3];
        int n = 0;
        int out_i = -1, err_i = -1, in_i = -1;
        if (out[0] >= 0) { fds[n] = {out[0], POLLIN, 0}; out_i = n++; }
        if (err[0] >= 0) { fds[n] = {err[0], POLLIN, 0}; err_i = n++; }
        if (in[1] >= 0) { fds[n] = {in[1], POLLOUT, 0}; in_i = n++; }
        if (n == 0)
            break;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buf[65536];
        auto drain = [&](int idx, int &fd, std::string &into) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR)))
                return;
            ssize_t k = read(fd, buf, sizeof buf);
            if (k > 0) {
                into.append(buf, k);
            } else {
                close(fd);
                fd = -1;
            }
        };
        drain(out_i, out[0], r.out);
        drain(err_i, err[0], r.err);
        if (in_i >= 0 && (fds[in_i].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t k = write(in[1], opts.input.data() + written, opts.input.size() - written);
            if (k > 0)
                written += k;
            if ((k < 0 && errno != EAGAIN) || written == opts.input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string make_temp_dir()
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorel-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
        return "";
    return buf.data();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), bytes.size());
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
