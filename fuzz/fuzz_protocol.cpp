// The decoders of the library's channel with its engine, on any bytes: request fields, report
// lines and answers a decoder accepts encode back to the same bytes.
#include "render/common/protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    pxraster::Request request;
    if (pxraster::decodeRequest(bytes, request) && pxraster::encodeRequest(request) != bytes)
        __builtin_trap();
    std::string buffer = bytes;
    while (pxraster::takeRequest(buffer, request) == pxraster::Framing::Complete) {
    }
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = bytes.find('\n', start);
        const size_t stop = end == std::string::npos ? bytes.size() : end + 1;
        pxraster::Report report;
        const std::string_view line(bytes.data() + start, stop - start);
        if (pxraster::decodeReport(line, report) && pxraster::encodeReport(report) != line)
            __builtin_trap();
        int32_t error = 0;
        if (pxraster::decodeAnswer(line, error) && pxraster::encodeAnswer(error) != line)
            __builtin_trap();
        start = stop;
    }
    return 0;
}
