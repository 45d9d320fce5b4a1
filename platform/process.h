#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

struct CaptureResult {
    quint32 exitCode = 0;
    QString output;
    bool timedOut = false; // the child outlived the time limit and was killed
};

// Runs a command line and returns its exit code and its standard output and standard error
// (one pipe, drained while the child runs, so any amount of output is fine).
// - The line is split by SplitCommandLine; the program is started directly, never via a shell.
//   A bare program name (no "/") is looked up in ProgramFolder() first, then on PATH.
// - Standard input is inherited, or, with `input`, a pipe holding those bytes (at most a pipe's
//   buffer, 64 KiB), then end-of-file: the way to hand a child a secret, which a command line
//   would show to every user.
// - The output is decoded by its byte-order mark (UTF-8, UTF-16LE, UTF-16BE), else as UTF-8,
//   split at CR LF, lone CR and lone LF, and every line, the last one too, is followed by
//   CR LF. No output gives an empty text.
// - A child killed by a signal gets exit code 128 + the signal number.
// Throws SystemError with the system's text when the program cannot be found or started.
// - With timeLimitMs >= 0, a child still running after that long is killed (exit code 128 + 9)
//   and timedOut is set; the output collected until then is kept.
// Safe to call from several threads at once.
CaptureResult RunAndCapture(const QString& commandLine, int timeLimitMs = -1,
                            const std::optional<QByteArray>& input = std::nullopt);

// Splits a command line by the Windows (CommandLineToArgvW) rules: blanks and tabs separate,
// double quotes group, 2n backslashes before a quote give n backslashes and the quote toggles
// grouping, 2n+1 backslashes before a quote give n backslashes and a literal quote, other
// backslashes are literal, and "" inside a group gives a literal quote. Every argument,
// the program name included, follows these rules.
QStringList SplitCommandLine(const QString& commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged (empty -> "").
QString QuoteArgument(const QString& argument);

// Processors busy with other work at this moment: the system's runnable threads less the
// calling one (/proc/stat, procs_running); 0 when that cannot be read.
int ProcessorsBusyElsewhere();

// Replaces this process by the program `name` in ProgramFolder(), with the same arguments
// (argv[0] too) and environment. Returns only when that fails, with the system's text.
QString ReplaceWithProgram(const QString& name, char* argv[]);

} // namespace platform
