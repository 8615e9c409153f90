// Run a program with given arguments, standard input and environment, and
// collect what it writes. For the end-to-end tests of whole-program runs.
#pragma once
#include <string>
#include <vector>

struct run_result {
    int status = -1;        // exit status, or 128 + signal number
    std::string out;        // standard output
    std::string err;        // standard error
};

struct run_options {
    std::string input;                  // written to standard input (a pipe)
    bool stdin_null = false;            // standard input from /dev/null instead
    const char *stdin_file = nullptr;   // or from this file
    std::vector<std::string> env;       // "NAME=value" added, "NAME" removed
    std::string cwd;                    // working directory, or inherited
};

// argv[0] is the program's path. The environment starts from the test's own,
// with MIVO removed and TERM set to "dumb".
run_result run_program(const std::vector<std::string> &argv, const run_options &opts = {});

// Apply "NAME=value" (set) and "NAME" (remove) changes to an environment.
void apply_env_changes(std::vector<std::string> &env, const std::vector<std::string> &changes);
// The strings as an argv-style array ending in a null pointer; the
// pointers are valid while the strings live.
std::vector<char *> c_strings(const std::vector<std::string> &strings);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();
// Write bytes to a file, replacing it.
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
