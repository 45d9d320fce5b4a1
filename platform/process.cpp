#include "platform/process.h"

#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/text.h"

#include <QFile>
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
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
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

// The child's standard output and standard error, both into one pipe.
struct OutputPipe {
    Fd readEnd;
    Fd writeEnd;
};

OutputPipe makeOutputPipe() {
    // Close-on-exec on both ends: a child started by another thread at the same moment must not
    // inherit our write end, or we would never see end-of-file.
    int ends[2];
    RaiseIfFailed(::pipe2(ends, O_CLOEXEC) == 0);
    OutputPipe pipe;
    pipe.readEnd.reset(ends[0]);
    pipe.writeEnd.reset(ends[1]);
    pipe.readEnd.reset(aboveStandard(pipe.readEnd.release()));
    RaiseIfFailed(pipe.readEnd.get() >= 0);
    pipe.writeEnd.reset(aboveStandard(pipe.writeEnd.release()));
    RaiseIfFailed(pipe.writeEnd.get() >= 0);
    return pipe;
}

// Standard input for a child that is handed a few bytes: a pipe already holding them, its write
// end closed, so the child reads them and then end-of-file. Nothing blocks: what is handed is
// far smaller than a pipe's buffer, and anything beyond the buffer is refused.
Fd inputPipeHolding(const QByteArray& input) {
    int ends[2];
    RaiseIfFailed(::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0);
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    readEnd.reset(aboveStandard(readEnd.release()));
    RaiseIfFailed(readEnd.get() >= 0);
    if (!input.isEmpty() &&
        ::write(writeEnd.get(), input.constData(), size_t(input.size())) != ssize_t(input.size()))
        throw SystemError(systemErrorText(E2BIG));
    writeEnd.reset();
    // The child reads it blocking, as any program expects of its standard input.
    RaiseIfFailed(::fcntl(readEnd.get(), F_SETFL, 0) == 0);
    return readEnd;
}

// Starts the program with `output` as its standard output and standard error, and `input` as
// its standard input unless it is -1; returns its id.
pid_t spawnWritingTo(const QByteArray& program, const QStringList& args, int output, int input) {
    std::vector<QByteArray> nativeArgs;
    nativeArgs.reserve(size_t(args.size()));
    for (const QString& arg : args)
        nativeArgs.push_back(toAnsi(arg));
    std::vector<char*> argv;
    for (QByteArray& arg : nativeArgs)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

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
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
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
    return pid;
}

// The time limit of one run, counted from its construction; none for a negative limit.
class Deadline {
public:
    explicit Deadline(int limitMs)
        : m_limitMs(limitMs), m_start(std::chrono::steady_clock::now()) {}
    bool limited() const { return m_limitMs >= 0; }
    // Milliseconds left; -1 without a limit.
    int remainingMs() const {
        if (!limited())
            return -1;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - m_start)
                               .count();
        return int(std::max<long long>(0, m_limitMs - spent));
    }

private:
    int m_limitMs;
    std::chrono::steady_clock::time_point m_start;
};

struct Output {
    QByteArray bytes;
    bool timedOut = false;
    int readError = 0;
};

// Reads until end-of-file, a read error or the deadline, whichever comes first.
Output readUntilEnd(int fd, const Deadline& deadline) {
    Output output;
    char buffer[65536];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, deadline.remainingMs());
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled == 0) {
            output.timedOut = true;
            return output;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            output.bytes.append(buffer, got);
        } else if (got == 0) {
            return output;
        } else if (errno != EINTR) {
            output.readError = errno;
            return output;
        }
    }
}

void killChild(pid_t pid) {
    ::kill(pid, SIGKILL);
}

// Reaps the child and returns its wait status. A child may close its output and still run on;
// the deadline covers that wait too, and *timedOut is set when it had to be killed for it.
int waitForExit(pid_t pid, const Deadline& deadline, bool* timedOut) {
    int status = 0;
    pid_t waited;
    for (;;) {
        waited = ::waitpid(pid, &status, *timedOut || !deadline.limited() ? 0 : WNOHANG);
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited != 0)
            break;
        if (deadline.remainingMs() == 0) {
            killChild(pid);
            *timedOut = true;
        } else {
            // The output usually ends as the child exits: it is about to be reaped.
            ::usleep(1000);
        }
    }
    RaiseIfFailed(waited == pid);
    return status;
}

// A child killed by a signal gets 128 + the signal number, as a shell reports it.
quint32 exitCodeOf(int status) {
    if (WIFEXITED(status))
        return quint32(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128u + quint32(WTERMSIG(status));
    return 0;
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

CaptureResult RunAndCapture(const QString& commandLine, int timeLimitMs,
                            const std::optional<QByteArray>& input) {
    const QStringList args = SplitCommandLine(commandLine);
    if (args.isEmpty() || args.first().isEmpty())
        throw SystemError(systemErrorText(args.isEmpty() ? EINVAL : ENOENT));
    const QByteArray program = locateProgram(args.first());

    Fd inputEnd(input ? inputPipeHolding(*input).release() : -1);
    OutputPipe pipe = makeOutputPipe();
    const pid_t pid = spawnWritingTo(program, args, pipe.writeEnd.get(), inputEnd.get());
    pipe.writeEnd.reset();
    inputEnd.reset();

    const Deadline deadline(timeLimitMs);
    Output output = readUntilEnd(pipe.readEnd.get(), deadline);
    pipe.readEnd.reset();
    if (output.timedOut)
        killChild(pid);
    const int status = waitForExit(pid, deadline, &output.timedOut);
    if (output.readError != 0)
        throw SystemError(systemErrorText(output.readError));

    CaptureResult result;
    result.timedOut = output.timedOut;
    result.exitCode = exitCodeOf(status);
    if (!output.bytes.isEmpty())
        result.output = normaliseLines(decode(output.bytes));
    return result;
}

int ProcessorsBusyElsewhere() {
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = "procs_running ";
    for (QByteArray line = stat.readLine(); !line.isEmpty(); line = stat.readLine())
        if (line.startsWith(key))
            return std::max(0, line.mid(key.size()).trimmed().toInt() - 1);
    return 0;
}

QString ReplaceWithProgram(const QString& name, char* argv[]) {
    const QByteArray path = toAnsi(ProgramFolder() + name);
    execv(path.constData(), argv);
    return QString::fromLocal8Bit(path) + QStringLiteral(": ") + systemErrorText(errno);
}

} // namespace platform
