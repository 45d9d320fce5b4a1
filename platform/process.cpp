#include "platform/process.h"

#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/text.h"

#include <QStringDecoder>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

extern char** environ;

namespace platform {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Moves a descriptor above 2 so that the child's dup2 onto 1 and 2 never meets itself.
int aboveStandard(int fd) {
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

bool isExecutableFile(const QByteArray& path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), X_OK) == 0;
}

// The program's own folder first, then PATH (empty PATH entries, the current folder, are not
// searched). Throws when nothing executable is found.
QByteArray locateProgram(const QString& program) {
    if (program.contains(u'/'))
        return toAnsi(program);
    const QByteArray name = toAnsi(program);
    std::vector<QByteArray> folders;
    folders.push_back(toAnsi(ProgramFolder()));
    QByteArray path = qgetenv("PATH");
    if (path.isNull()) {
        const size_t n = ::confstr(_CS_PATH, nullptr, 0);
        path.resize(n > 0 ? qsizetype(n) - 1 : 0);
        if (n > 0)
            ::confstr(_CS_PATH, path.data(), n);
    }
    for (const QByteArray& entry : path.split(':')) {
        if (!entry.isEmpty())
            folders.push_back(entry.endsWith('/') ? entry : entry + '/');
    }
    bool sawUnusable = false;
    for (const QByteArray& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QByteArray candidate = folder + name;
        if (isExecutableFile(candidate))
            return candidate;
        if (::access(candidate.constData(), F_OK) == 0)
            sawUnusable = true;
    }
    throw SystemError(systemErrorText(sawUnusable ? EACCES : ENOENT));
}

QString decode(const QByteArray& bytes) {
    const auto starts = [&](std::initializer_list<unsigned char> bom) {
        if (bytes.size() < qsizetype(bom.size()))
            return false;
        qsizetype i = 0;
        for (unsigned char b : bom) {
            if (static_cast<unsigned char>(bytes[i++]) != b)
                return false;
        }
        return true;
    };
    auto encoding = QStringConverter::Utf8;
    qsizetype skip = 0;
    if (starts({0xEF, 0xBB, 0xBF})) {
        skip = 3;
    } else if (starts({0xFF, 0xFE})) {
        encoding = QStringConverter::Utf16LE;
        skip = 2;
    } else if (starts({0xFE, 0xFF})) {
        encoding = QStringConverter::Utf16BE;
        skip = 2;
    }
    // ConvertInitialBom: the mark is already consumed; a second one is text.
    QStringDecoder decoder(encoding, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes).sliced(skip));
}

// Splits at CR LF, lone CR and lone LF and ends every line with CR LF. A line break at the very
// end closes the last line and does not open an empty one.
QString normaliseLines(const QString& text) {
    QString result;
    result.reserve(text.size() + text.size() / 16 + 2);
    qsizetype lineStart = 0;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            result += QStringView(text).sliced(lineStart, i - lineStart);
            result += QLatin1String("\r\n");
            i += (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') ? 2 : 1;
            lineStart = i;
        } else {
            ++i;
        }
    }
    if (lineStart < n) {
        result += QStringView(text).sliced(lineStart);
        result += QLatin1String("\r\n");
    }
    return result;
}

} // namespace

QStringList SplitCommandLine(const QString& commandLine) {
    QStringList args;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    for (;;) {
        while (i < n && isBlank(commandLine.at(i)))
            ++i;
        if (i >= n)
            break;
        QString arg;
        bool quoted = false;
        while (i < n) {
            const QChar c = commandLine.at(i);
            if (!quoted && isBlank(c))
                break;
            if (c == u'\\') {
                qsizetype j = i;
                while (j < n && commandLine.at(j) == u'\\')
                    ++j;
                const qsizetype count = j - i;
                if (j < n && commandLine.at(j) == u'"') {
                    arg += QString(count / 2, u'\\');
                    if (count % 2) {
                        arg += u'"';
                        ++j;
                    }
                } else {
                    arg += QString(count, u'\\');
                }
                i = j;
            } else if (c == u'"') {
                if (quoted && i + 1 < n && commandLine.at(i + 1) == u'"') {
                    arg += u'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args << arg;
    }
    return args;
}

QString QuoteArgument(const QString& argument) {
    const bool plain =
        !argument.isEmpty() && std::none_of(argument.begin(), argument.end(),
                                            [](QChar c) { return isBlank(c) || c == u'"'; });
    if (plain)
        return argument;
    QString quoted = QStringLiteral("\"");
    const qsizetype n = argument.size();
    for (qsizetype i = 0; i < n;) {
        qsizetype j = i;
        while (j < n && argument.at(j) == u'\\')
            ++j;
        const qsizetype count = j - i;
        if (j == n) {
            // Before the closing quote: double them so the quote stays a quote.
            quoted += QString(count * 2, u'\\');
            i = j;
        } else if (argument.at(j) == u'"') {
            quoted += QString(count * 2 + 1, u'\\');
            quoted += u'"';
            i = j + 1;
        } else {
            quoted += QString(count, u'\\');
            quoted += argument.at(j);
            i = j + 1;
        }
    }
    quoted += u'"';
    return quoted;
}

CaptureResult RunAndCapture(const QString& commandLine, int timeLimitMs) {
    const QStringList args = SplitCommandLine(commandLine);
    if (args.isEmpty() || args.first().isEmpty())
        throw SystemError(systemErrorText(args.isEmpty() ? EINVAL : ENOENT));
    const QByteArray program = locateProgram(args.first());

    std::vector<QByteArray> nativeArgs;
    nativeArgs.reserve(size_t(args.size()));
    for (const QString& arg : args)
        nativeArgs.push_back(toAnsi(arg));
    std::vector<char*> argv;
    for (QByteArray& arg : nativeArgs)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Close-on-exec on both ends: a child started by another thread at the same moment must not
    // inherit our write end, or we would never see end-of-file.
    int ends[2];
    RaiseIfFailed(::pipe2(ends, O_CLOEXEC) == 0);
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    readEnd.reset(aboveStandard(readEnd.release()));
    RaiseIfFailed(readEnd.get() >= 0);
    writeEnd.reset(aboveStandard(writeEnd.release()));
    RaiseIfFailed(writeEnd.get() >= 0);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0)
        throw SystemError(systemErrorText(rc));
    rc = posix_spawnattr_init(&attributes);
    if (rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        throw SystemError(systemErrorText(rc));
    }
    // dup2 clears close-on-exec on the copies only.
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    // The child starts with no blocked signals and a default SIGPIPE, whatever this thread has.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // glibc's posix_spawn reports a failed exec (ENOENT, EACCES, ENOEXEC ...) as its result.
    pid_t pid = -1;
    rc = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        throw SystemError(systemErrorText(rc));
    writeEnd.reset();

    const auto start = std::chrono::steady_clock::now();
    // Milliseconds left before the limit; -1 without one.
    const auto remaining = [&]() -> int {
        if (timeLimitMs < 0)
            return -1;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
        return int(std::max<long long>(0, timeLimitMs - spent));
    };
    bool timedOut = false;
    const auto killChild = [&] {
        ::kill(pid, SIGKILL);
        timedOut = true;
    };

    QByteArray collected;
    int readError = 0;
    char buffer[65536];
    while (!timedOut) {
        pollfd ready{readEnd.get(), POLLIN, 0};
        const int left = remaining();
        const int polled = ::poll(&ready, 1, left);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            killChild();
            break;
        }
        const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
        if (got > 0) {
            collected.append(buffer, got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            readError = errno;
            break;
        }
    }
    readEnd.reset();

    // A child may close its output and still run on; the limit covers that wait too.
    int status = 0;
    pid_t waited;
    for (;;) {
        waited = ::waitpid(pid, &status, timedOut || timeLimitMs < 0 ? 0 : WNOHANG);
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited != 0)
            break;
        if (remaining() == 0)
            killChild();
        else
            ::usleep(10000);
    }
    RaiseIfFailed(waited == pid);
    if (readError != 0)
        throw SystemError(systemErrorText(readError));

    CaptureResult result;
    result.timedOut = timedOut;
    if (WIFEXITED(status))
        result.exitCode = quint32(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        result.exitCode = 128u + quint32(WTERMSIG(status));
    if (!collected.isEmpty())
        result.output = normaliseLines(decode(collected));
    return result;
}

} // namespace platform
