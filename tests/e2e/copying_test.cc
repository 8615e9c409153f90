// Whole runs of the viewer with standard output a pipe: it copies its inputs,
// reports what it cannot read on standard error, and exits with a status
// that says whether everything was copied.
#include "tests/e2e/viewer_test.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

std::string every_byte(int rounds)
{
    std::string s;
    for (int r = 0; r < rounds; r++)
        for (int c = 0; c < 256; c++)
            s += static_cast<char>(c);
    return s;
}

// Deterministic bytes of every value, NUL included, that do not repeat with
// the block size.
std::string generated(size_t length)
{
    std::string s(length, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < length; i++) {
        x = x * 1103515245 + 12345;
        s[i] = static_cast<char>(x >> 23);
    }
    return s;
}

std::string no_such_file(const std::string &name)
{
    return name + ": " + strerror(ENOENT) + "\n";
}

// A copy that went well: status 0, nothing on standard error, these bytes out.
void expect_copied(const run_result &r, const std::string &out)
{
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, out);
}

// The viewer with standard output a pipe; only the test directory and its
// files come from the shared fixture.
class Copying : public viewer_test {
protected:
    static run_result quorel(std::vector<std::string> args, const run_options &opts = {})
    {
        args.insert(args.begin(), QUOREL_BIN);
        return run_program(args, opts);
    }
};

TEST_F(Copying, FilesToAPipe)
{
    struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"text", "one\ntwo\nthree\n"},
        {"no final newline", "abc"},
        {"every byte value", every_byte(3)},
        {"empty", ""},
        {"exactly two blocks", generated(2048)},
        {"one byte over a block", generated(1025)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = file("f", c.bytes);
        run_result r = quorel({path});
        expect_copied(r, c.bytes);

        // The same bytes from standard input, a pipe and a file.
        r = quorel({}, feed(c.bytes));
        expect_copied(r, c.bytes);

        run_options from_file;
        from_file.stdin_file = path.c_str();
        r = quorel({}, from_file);
        expect_copied(r, c.bytes);
    }
}

TEST_F(Copying, SeveralFilesInOrder)
{
    std::string a = file("a", "first\n"), b = file("b", std::string("\0se\0cond\n", 9));
    std::string c = file("c", "\xff\x80third");
    run_result r = quorel({a, b, c, a});
    expect_copied(r, std::string("first\n\0se\0cond\n", 15) + "\xff\x80thirdfirst\n");
}

TEST_F(Copying, LargeInputsCopiedExactly)
{
    std::string big = generated(20 * 1000 * 1000 + 7);
    std::string path = file("big", big);
    const std::string &want = big;

    run_result r = quorel({path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out == want) << "file: " << r.out.size() << " bytes of " << want.size();

    r = quorel({}, feed(big));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out == want) << "pipe: " << r.out.size() << " bytes of " << want.size();
}

// The copy is byte for byte as cmp sees it, NUL bytes included, whether
// the input is a file, a pipe or a compressed file (copied compressed).
TEST_F(Copying, EveryByteValueAsCmpSeesIt)
{
    std::string f = file("f", every_byte(40));
    const char *scripts[] = {
        "\"$Q\" f | cmp - f",
        "cat f | \"$Q\" | cmp - f",
        "\"$Q\" < f | cmp - f",
        "gzip -c f > f.gz && \"$Q\" f.gz | cmp - f.gz && \"$Q\" < f.gz | cmp - f.gz",
    };
    for (const char *script : scripts) {
        run_options o;
        o.cwd = dir();
        o.env.push_back(std::string("Q=") + QUOREL_BIN);
        run_result r = run_program({"/bin/sh", "-c", script}, o);
        EXPECT_EQ(r.status, 0) << script << ": " << r.out << r.err;
    }
}

// Inputs that cannot be copied are reported; the others are still copied,
// and the exit status is 1.
TEST_F(Copying, InputsThatCannotBeRead)
{
    std::string a = file("a", "AAA\n"), b = file("b", "BBB\n");
    std::string missing = path("missing");
    std::string long_dir = std::string(90, 'd');
    ASSERT_EQ(mkdir(path(long_dir).c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
    std::string long_missing = std::string(150, 'm');

    struct {
        const char *what;
        std::vector<std::string> args;
        std::string out;
        std::string err;
    } cases[] = {
        {"missing file between two", {a, missing, b}, "AAA\nBBB\n", no_such_file(missing)},
        {"missing file last", {a, missing}, "AAA\n", no_such_file(missing)},
        {"directory", {"sub", b}, "BBB\n", "sub is a directory\n"},
        {"long directory name", {long_dir},
         "", long_dir.substr(0, 82) + " is a directory\n"},
        {"socket", {a, "sock"}, "AAA\n", "sock is not a regular file\n"},
        // The name is cut so that name, ": " and the text fit in 100 bytes.
        {"long missing name", {long_missing},
         "", long_missing.substr(0, 100 - strlen(strerror(ENOENT)) - 4) + ": " +
                 strerror(ENOENT) + "\n"},
        {"two failures", {missing, "sub", a}, "AAA\n",
         no_such_file(missing) + "sub is a directory\n"},
    };
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path("sock").c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        run_options o;
        o.cwd = dir();
        run_result r = quorel(c.args, o);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    close(sock);
    // A character device is read as a pipe is.
    run_result r = quorel({a, "/dev/null", a}, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "AAA\nAAA\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Copying, UnreadableFile)
{
    std::string secret = file("secret", "hidden\n"), b = file("b", "BBB\n");
    ASSERT_EQ(chmod(secret.c_str(), 0), 0);
    int fd = open(secret.c_str(), O_RDONLY);
    if (fd >= 0) {
        close(fd);
        GTEST_SKIP() << "permissions do not stop this user (running as root?)";
    }
    run_result r = quorel({secret, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "BBB\n");
    EXPECT_EQ(r.err, secret + ": " + strerror(EACCES) + "\n");
}

// A read that fails after the open is fatal: the kernel refuses reads of
// unmapped addresses of a process's own memory.
TEST_F(Copying, ReadErrorIsFatal)
{
    struct stat st;
    if (stat("/proc/self/mem", &st) != 0 || !S_ISREG(st.st_mode))
        GTEST_SKIP() << "no /proc/self/mem here";
    std::string a = file("a", "AAA\n");
    run_result r = quorel({a, "/proc/self/mem", a});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "AAA\n");
    EXPECT_EQ(r.err, "read error\n");
}

TEST_F(Copying, StandardInputOnlyOnce)
{
    std::string a = file("a", "AAA\n");
    run_result r = quorel({"-", a, "-"}, feed("from the pipe\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "from the pipe\nAAA\n");
    EXPECT_EQ(r.err, "Can view standard input only once\n");
}

// After a lone "-" every argument is a file name, even one that starts with
// '-'; options before it still count.
TEST_F(Copying, ArgumentsAfterALoneDashAreFiles)
{
    file("-x", "dash x\n");
    run_options o = feed("input\n");
    o.cwd = dir();
    run_result r = quorel({"-x4", "-", "-x"}, o);
    expect_copied(r, "input\ndash x\n");

    r = quorel({"-i", "-", "-y", "+x"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "input\n");
    EXPECT_EQ(r.err, no_such_file("-y") + no_such_file("+x"));

    // A lone "+" ends the options as well.
    r = quorel({"+"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, no_such_file("+"));
}

TEST_F(Copying, TerminalAsStandardInput)
{
    int master, slave;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::string tty = ttyname(slave);
    std::string a = file("a", "AAA\n");
    run_options o;
    o.stdin_file = tty.c_str();

    run_result r = quorel({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can't take input from a terminal\n");

    r = quorel({"-", a}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "AAA\n");
    EXPECT_EQ(r.err, "Can't take input from a terminal\n");

    // Named, the terminal is refused as well.
    r = quorel({tty, a}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "AAA\n");
    EXPECT_EQ(r.err, "Can't take input from a terminal\n");
    close(slave);
    close(master);
}

// An option error ends the run before anything is copied.
TEST_F(Copying, OptionErrors)
{
    std::string a = file("a", "AAA\n");
    struct {
        std::vector<std::string> args;
        const char *mivo;       // nullptr: not set
        std::string err;
    } cases[] = {
        {{"-y", a}, nullptr, "\"-y\": invalid flag\n"},
        {{"-W", a}, nullptr, "\"-W\": invalid flag\n"},
        {{"-i", "-eq", "-Z", a}, nullptr, "\"-Z\": invalid flag\n"},
        {{"-b", a}, nullptr, "number is required after -b\n"},
        {{"-xq", a}, nullptr, "number is required after -x\n"},
        {{"-P", a}, nullptr, "string is required after -P\n"},
        {{"-ist", a}, nullptr, "string is required after -t\n"},
        {{"-l", a}, nullptr, "string is required after -l\n"},
        {{"-L", a}, nullptr, "string is required after -L\n"},
        {{"-e+", a}, nullptr, "string is required after -+\n"},
        {{"++", a}, nullptr, "string is required after -+\n"},
        {{a}, "-y", "\"-y\": invalid flag\n"},
        {{a}, "-i -z", "number is required after -z\n"},
        {{a}, "+", "string is required after -+\n"},
        {{a}, "-Pmfoo$-l", "string is required after -l\n"},
        // The environment is parsed first and stops the run by itself.
        {{"-W", a}, "-k", "\"-k\": invalid flag\n"},
    };
    for (const auto &c : cases) {
        run_options o;
        if (c.mivo)
            o.env.push_back(std::string("MIVO=") + c.mivo);
        run_result r = quorel(c.args, o);
        std::string trace = c.mivo ? std::string("MIVO='") + c.mivo + "'" : c.args[0];
        EXPECT_EQ(r.status, 1) << trace;
        EXPECT_EQ(r.out, "") << trace;
        EXPECT_EQ(r.err, c.err) << trace;
    }
}

TEST_F(Copying, OptionsThatAreFine)
{
    std::string a = file("a", "AAA\n");
    struct {
        std::vector<std::string> args;
        const char *mivo;
    } cases[] = {
        {{"-15", a}, nullptr},
        {{"-x0", "-b0", a}, nullptr},
        {{"-z99999999999", a}, nullptr},
        {{"-+i-e", "-EM", "-d", a}, nullptr},
        {{"-l$", "-Pm$", a}, nullptr},
        {{"+/AAA", "++G", a}, nullptr},
        {{a}, "-Pmfoo$i"},
        {{"-i", a}, "-i"},
        {{"-B", "-b3", a}, ""},
    };
    for (const auto &c : cases) {
        run_options o;
        if (c.mivo)
            o.env.push_back(std::string("MIVO=") + c.mivo);
        run_result r = quorel(c.args, o);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.err, "") << c.args[0];
        EXPECT_EQ(r.out, "AAA\n") << c.args[0];
    }
}

// Output that cannot be written ends the copy with status 2 and says why.
TEST_F(Copying, WriteErrorIsReported)
{
    std::string a = file("a", "AAA\n"), big = file("big", generated(300000));
    struct stat st;
    if (stat("/dev/full", &st) != 0)
        GTEST_SKIP() << "no /dev/full here";
    for (const std::string &path : {a, big}) {
        std::string command = std::string("exec '") + QUOREL_BIN + "' '" + path +
                              "' '" + a + "' >/dev/full";
        run_result r = run_program({"/bin/sh", "-c", command});
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_EQ(r.err, std::string("write error: ") + strerror(ENOSPC) + "\n") << path;
    }
}

} // namespace
