// Child process for the platform tests: writes what it is told, exits or dies as told.
//   echochild hex <hex bytes>      write the bytes to standard output
//   echochild mixed                interleave standard output and standard error
//   echochild big <count>          write <count> bytes of 64-byte lines
//   echochild exit <code>          exit with <code>
//   echochild kill                 die by SIGKILL
//   echochild args <arg>...        one line per argument: "=" and its bytes in hex
//   echochild lock <title>         print "first" or "second" for SingleInstance(title)
//   echochild hold <title>         the same, then keep the lock until killed
#include "platform/instance.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            std::exit(100);
        done += n;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 99;
    const QByteArray mode = argv[1];
    if (mode == "hex" && argc == 3) {
        writeAll(1, QByteArray::fromHex(argv[2]));
    } else if (mode == "mixed") {
        writeAll(1, "out1\n");
        writeAll(2, "err1\n");
        writeAll(1, "out2");
    } else if (mode == "big" && argc == 3) {
        const qint64 count = QByteArray(argv[2]).toLongLong();
        QByteArray line(63, 'x');
        line += '\n';
        QByteArray chunk;
        for (int i = 0; i < 1024; ++i)
            chunk += line;
        qint64 left = count;
        while (left > 0) {
            const qint64 n = std::min<qint64>(left, chunk.size());
            writeAll(1, chunk.left(n));
            left -= n;
        }
    } else if (mode == "exit" && argc == 3) {
        return std::atoi(argv[2]);
    } else if (mode == "kill") {
        ::raise(SIGKILL);
    } else if (mode == "args") {
        for (int i = 2; i < argc; ++i)
            writeAll(1, '=' + QByteArray(argv[i]).toHex() + '\n');
    } else if ((mode == "lock" || mode == "hold") && argc == 3) {
        const platform::SingleInstance instance(QString::fromUtf8(argv[2]));
        writeAll(1, instance.isFirst() ? "first\n" : "second\n");
        if (mode == "hold") {
            for (;;)
                ::pause();
        }
    } else {
        return 99;
    }
    return 0;
}
