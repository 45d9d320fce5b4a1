// The information tool as the program runs it: a real process on fixture PDFs, its output
// read the way the probe reads it.
#include "render/common/sanitized.h"
#include "tests/render/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

// The program's reading: lines joined with ",", the text from the first "Pages:" up to the
// next ",", and of that the part after the last blank.
std::string probePageCount(const std::string& output) {
    std::string joined = output;
    std::replace(joined.begin(), joined.end(), '\n', ',');
    const size_t at = joined.find("Pages:");
    if (at == std::string::npos)
        return {};
    const std::string segment = joined.substr(at, joined.find(',', at) - at);
    return segment.substr(segment.rfind(' ') + 1);
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

class InfoTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = pxtest::makeFixtureFolder(FIXTURE_SCRIPT);
        ASSERT_FALSE(root_.empty()) << "fixture PDFs could not be made";
    }
    static void TearDownTestSuite() {
        if (!root_.empty())
            fs::remove_all(root_);
    }
    static pxtest::RunResult pi(const std::string& pdfName, const char* password = nullptr) {
        const std::string path = (root_ / "pdf" / pdfName).string();
        if (password)
            return pxtest::run({PI_PATH, "-upw", password, path});
        return pxtest::run({PI_PATH, path});
    }
    static inline fs::path root_;
};

TEST_F(InfoTool, ReadableFilesReportTheirPageCount) {
    struct Case {
        const char* pdfName;
        const char* password;
        const char* pages;
    };
    const Case cases[] = {
        {"three.pdf", nullptr, "3"},
        {"twelve.pdf", nullptr, "12"},
        {"absurd-count.pdf", nullptr, "2"}, // the tree claims a billion
        {"cyclic-tree.pdf", nullptr, "1"},
        // As many as the renderer writes (test_render has the same files).
        {"tree-loop-first.pdf", nullptr, "1"},
        {"tree-loop-second.pdf", nullptr, "2"},
        {"deep-tree.pdf", nullptr, "3"},
        {"owner-only.pdf", nullptr, "3"},
        {"three.pdf", "unneeded", "3"},
        {"aes-256.pdf", "secret", "3"},
        {"aes-256.pdf", "owner", "3"},
        {"aes-128.pdf", "secret", "3"},
        {"rc4-40.pdf", "secret", "3"},
        {"rc4-128.pdf", "secret", "3"},
        {"blank-password.pdf", "my secret pw", "3"},
        {"umlaut-rc4.pdf", "\xc3\xa4", "3"}, // UTF-8 "ä"
        {"umlaut-rc4.pdf", "\xe4", "3"},     // Latin-1 "ä"
        {"umlaut-aes256.pdf", "\xc3\xa4", "3"},
        {"umlaut-aes256.pdf", "\xe4", "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + (c.password ? c.password : "(none)"));
        const pxtest::RunResult result = pi(c.pdfName, c.password);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output.rfind("Pages:", 0), 0u) << result.output;
        EXPECT_EQ(probePageCount(result.output), c.pages) << result.output;
        EXPECT_NE(result.output.find("\nEncrypted:"), std::string::npos);
        EXPECT_NE(result.output.find("\nPDF version:    1."), std::string::npos);
    }
    const std::string three = pi("three.pdf").output;
    EXPECT_NE(three.find("\nTitle:          Fixture\n"), std::string::npos) << three;
    EXPECT_NE(three.find("\nPage size:      612 x 792 pts\n"), std::string::npos) << three;
    EXPECT_NE(three.find("\nEncrypted:      no\n"), std::string::npos) << three;
}

TEST_F(InfoTool, MissingOrWrongUserPasswordSaysIncorrectPassword) {
    struct Case {
        const char* pdfName;
        const char* password;
    };
    const Case cases[] = {
        {"aes-256.pdf", nullptr},   {"aes-256.pdf", "wrong"},     {"aes-256.pdf", ""},
        {"rc4-40.pdf", nullptr},    {"rc4-128.pdf", "Secret"},    {"aes-128.pdf", nullptr},
        {"umlaut-aes256.pdf", "a"}, {"blank-password.pdf", "my"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " " + (c.password ? c.password : "(none)"));
        const pxtest::RunResult result = pi(c.pdfName, c.password);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(upper(result.output).find("INCORRECT PASSWORD"), std::string::npos)
            << result.output;
        EXPECT_EQ(result.output.find("Pages:"), std::string::npos);
    }
}

TEST_F(InfoTool, UnreadableFilesFailWithOneLineAndNoPasswordText) {
    const fs::path fifo = root_ / "pdf" / "pipe.pdf";
    mkfifo(fifo.c_str(), 0600); // opening it for reading would wait for a writer forever
    for (const char* name :
         {"no-such.pdf", "damaged.pdf", "not-a-pdf.pdf", "empty.pdf", "", "pipe.pdf"}) {
        SCOPED_TRACE(name);
        const pxtest::RunResult result = pi(name);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_EQ(upper(result.output).find("INCORRECT PASSWORD"), std::string::npos);
    }
    // Even when the file's own name says so.
    const fs::path tricky = root_ / "pdf" / "incorrect password.pdf";
    fs::copy_file(root_ / "pdf" / "damaged.pdf", tricky, fs::copy_options::overwrite_existing);
    const pxtest::RunResult result = pi("incorrect password.pdf");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(upper(result.output).find("INCORRECT PASSWORD"), std::string::npos);
}

std::string procText(pid_t pid, const char* entry) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + entry, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// pi writes its report into a pipe that is already full, so it waits there, past its start-up,
// while `look` reads what any other local user could read of it in /proc. Returns its output
// and exit status; the exit status is -1 when pi never waited there.
pxtest::RunResult whileWaitingOnOutput(const std::vector<std::string>& args,
                                       const std::function<void(pid_t)>& look) {
    pxtest::RunResult result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    while (write(fds[1], filler.data(), filler.size()) > 0) {
    }
    fcntl(fds[1], F_SETFL, 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
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
    bool blocked = false;
    for (int i = 0; i < 3000 && !blocked; ++i) {
        blocked = procText(pid, "wchan").find("pipe_write") != std::string::npos;
        if (!blocked)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (blocked)
        look(pid);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = !blocked            ? -1
                      : WIFEXITED(status) ? WEXITSTATUS(status)
                                          : 128 + WTERMSIG(status);
    return result;
}

TEST_F(InfoTool, PasswordIsWipedFromTheCommandLine) {
    const std::string path = (root_ / "pdf" / "aes-256.pdf").string();
    std::string cmdline;
    const pxtest::RunResult result = whileWaitingOnOutput(
        {PI_PATH, "-upw", "secret", path}, [&](pid_t pid) { cmdline = procText(pid, "cmdline"); });
    ASSERT_NE(result.exitCode, -1) << "pi never waited on its output";
    EXPECT_EQ(cmdline.find("secret"), std::string::npos) << cmdline;
    EXPECT_NE(cmdline.find(path), std::string::npos) << cmdline;
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(probePageCount(result.output), "3") << result.output;
}

// The program's way: the password as the first line of standard input, never an argument.
TEST_F(InfoTool, PasswordFromStandardInput) {
    struct Case {
        const char* pdfName;
        std::string input;
        int exitCode;
    };
    const Case cases[] = {
        {"aes-256.pdf", "secret\n", 0},
        {"aes-256.pdf", "secret\r\n", 0},
        {"aes-256.pdf", "secret", 0},                // no line end
        {"aes-256.pdf", "secret\nwrong\n", 0},       // the first line only
        {"blank-password.pdf", "my secret pw\n", 0}, // blanks belong to it
        {"umlaut-aes256.pdf", "\xc3\xa4\n", 0},
        {"rc4-128.pdf", "secret\n", 0},
        {"owner-only.pdf", "\n", 0}, // an empty line: the empty password
        {"aes-256.pdf", "wrong\n", 1},
        {"aes-256.pdf", "secret \n", 1},
        {"aes-256.pdf", "secret\r\r\n", 1}, // only one line end is taken off
        {"aes-256.pdf", "\n", 1},
        {"aes-256.pdf", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pdfName) + " [" + c.input + "]");
        const std::string path = (root_ / "pdf" / c.pdfName).string();
        const pxtest::RunResult result = pxtest::run({PI_PATH, "-upw", "-", path}, c.input);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        if (c.exitCode == 0) {
            EXPECT_EQ(probePageCount(result.output), "3") << result.output;
        } else {
            EXPECT_NE(upper(result.output).find("INCORRECT PASSWORD"), std::string::npos)
                << result.output;
            EXPECT_EQ(result.output.find("Pages:"), std::string::npos);
        }
    }
}

// A file of 40 KB whose page tree takes 250 MB to parse.
TEST_F(InfoTool, MemoryIsLimited) {
#ifdef PX_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    setenv("PI_MEMORY_LIMIT_MB", "100", 1);
    const auto started = std::chrono::steady_clock::now();
    const pxtest::RunResult limited = pi("page-tree-bomb.pdf");
    const auto took = std::chrono::steady_clock::now() - started;
    unsetenv("PI_MEMORY_LIMIT_MB");
    EXPECT_EQ(limited.exitCode, 2) << limited.output;
    EXPECT_EQ(std::count(limited.output.begin(), limited.output.end(), '\n'), 1) << limited.output;
    EXPECT_LT(limited.peakKb, 100 * 1024);
    EXPECT_LT(took, std::chrono::seconds(30));

    // Under the default limit of 1 GB the file is read.
    const pxtest::RunResult normal = pi("page-tree-bomb.pdf");
    EXPECT_EQ(normal.exitCode, 0) << normal.output;
    EXPECT_EQ(probePageCount(normal.output), "1") << normal.output;
#endif
}

// However it is started, pi runs with limits of its own.
TEST_F(InfoTool, LimitsApplyByDefault) {
    std::string limits;
    const pxtest::RunResult result =
        whileWaitingOnOutput({PI_PATH, (root_ / "pdf" / "three.pdf").string()},
                             [&](pid_t pid) { limits = procText(pid, "limits"); });
    ASSERT_NE(result.exitCode, -1) << "pi never waited on its output";
    EXPECT_EQ(result.exitCode, 0);
    auto limit = [&](const std::string& name) {
        const size_t at = limits.find(name);
        std::istringstream values(at == std::string::npos ? "" : limits.substr(at + name.size()));
        std::string soft, hard;
        values >> soft >> hard;
        return soft + " " + hard;
    };
    EXPECT_EQ(limit("Max cpu time"), "60 65") << limits;
#ifndef PX_SANITIZED
    EXPECT_EQ(limit("Max address space"), "1073741824 1073741824") << limits;
#endif
}

TEST_F(InfoTool, BadCommandLinesAreErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {PI_PATH}, {PI_PATH, "-upw"}, {PI_PATH, "-upw", "pw"}, {PI_PATH, "a", "b"}}) {
        const pxtest::RunResult result = pxtest::run(args);
        EXPECT_EQ(result.exitCode, 2) << result.output;
    }
}

} // namespace
