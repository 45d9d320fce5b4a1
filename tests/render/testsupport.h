// Helpers shared by the rendering library and information tool tests: a private folder with
// the fixture PDFs, and running a real process with its output captured.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pxtest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1; // 128 + signal when killed
    std::string output;
};

// Runs argv[0] with its arguments (no shell), stdout and stderr into one captured text.
inline RunResult run(const std::vector<std::string>& args) {
    RunResult result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
