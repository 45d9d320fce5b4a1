// Helpers shared by the rendering library and information tool tests: a private folder with
// the fixture PDFs, and running a real process with its output captured.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pxtest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1; // 128 + signal when killed
    std::string output;
    long peakKb = 0; // the largest resident size the process reached
};

// Runs argv[0] with its arguments (no shell), stdout and stderr into one captured text. `input`
// (a few bytes at most: it is written before the output is read) is its standard input, which
// is empty otherwise.
inline RunResult run(const std::vector<std::string>& args, const std::string& input = {}) {
    RunResult result;
    int fds[2], in[2];
    if (pipe(fds) != 0)
        return result;
    // A socket, so that writing to a process that already ended raises no SIGPIPE here.
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, in) != 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(in[0]);
        close(in[1]);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(fds[1]);
    if (!input.empty() && send(in[1], input.data(), input.size(), MSG_NOSIGNAL) < 0)
        result.output = "(standard input not written)";
    close(in[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peakKb = usage.ru_maxrss;
    return result;
}

// A fresh folder under the temporary folder, holding the fixture PDFs in "pdf/".
inline fs::path makeFixtureFolder(const std::string& script) {
    std::string pattern = (fs::temp_directory_path() / "pxtest-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    if (!made)
        return {};
    const fs::path root(made);
    // The folder must be reachable by an unprivileged user for the permission tests.
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const RunResult made_pdfs = run({"/usr/bin/python3", script, (root / "pdf").string()});
    if (made_pdfs.exitCode != 0)
        return {};
    return root;
}

} // namespace pxtest
