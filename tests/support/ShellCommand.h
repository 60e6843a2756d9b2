// Runs a command line through /bin/sh for tests that drive the executables.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vantry::testing {

struct ShellResult {
    int exitCode = -1;  // -1: could not be started, or ended by a signal
    std::string out;    // what it wrote to standard output
};

inline ShellResult runShell(const std::string& command) {
    ShellResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) r.out.append(buffer, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// `s` as one shell word.
inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace vantry::testing
