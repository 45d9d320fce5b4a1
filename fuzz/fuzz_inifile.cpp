// The settings file reader on any bytes: reading a key never fails hard, and a value written
// into the text reads back as written.
#include "app/inifile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const char* key : {"Format", "Dpi", "", "a=b"})
        ini::ReadValue(content, QStringLiteral("Options"), QString::fromLatin1(key));
    QByteArray written;
    if (ini::SetValue(content, QStringLiteral("Options"), QStringLiteral("Dpi"),
                      QStringLiteral(" 300 "), &written)) {
        bool found = false;
        if (ini::ReadValue(written, QStringLiteral("options"), QStringLiteral("DPI"), &found) !=
                QStringLiteral(" 300 ") ||
            !found)
            __builtin_trap();
    }
    return 0;
}
