// The convert command's parser on any arguments: NUL-separated words of the input.
#include "app/batchoptions.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList arguments;
    for (const QByteArray& word : bytes.split('\0'))
        arguments << QString::fromUtf8(word);
    const BatchParse parsed = ParseBatchArguments(arguments);
    // A parse either fails with a message or yields options.
    if (!parsed.error.isEmpty() && parsed.error.trimmed().isEmpty())
        __builtin_trap();
    return 0;
}
