// Program entry. "pixolund convert ..." converts without a window, in this small program that
// loads Qt Core alone: a shell loop starts it once per few files, and loading the widget
// libraries used to cost more than converting a small page. Anything else is the window's
// business, so this process becomes the window program beside it.

#include "app/batch.h"
#include "platform/process.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Pixolund"));
        return RunBatch(QCoreApplication::arguments().mid(2));
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("Pixolund %s\n", PIXOLUND_VERSION);
        return 0;
    }
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: pixolund [FILE|FOLDER...]\n"
                    "       pixolund convert [options] FILE|FOLDER...   (see --help there)\n"
                    "       pixolund --version\n"
                    "Opens the window and adds the PDF files given; a folder adds the PDFs "
                    "below it.\nWhen Pixolund runs already, the files go to its window; this "
                    "start then ends with\nstatus 0, or with 1 and the reason when the "
                    "window did not take them.\n");
        return 0;
    }
    const QString error = platform::ReplaceWithProgram(QStringLiteral("pixolund-window"), argv);
    std::fprintf(stderr, "Pixolund: cannot start the window: %s\n",
                 error.toLocal8Bit().constData());
    return 127;
}
