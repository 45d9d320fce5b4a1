// What the rendering library and its companion process say to each other over the socket the
// companion finds as descriptor kChannelFd.
//
// Library -> companion, once: the request (encodeRequest), then end of stream.
// Companion -> library, one text line each:
//   "R <pageCount> <first> <last>"  the clamped range, before any file is written
//   "B <page>"                       the page is being rendered; its temporary file may appear.
//                                    Sent again after each band of a page drawn in bands: the
//                                    page's time limit counts from the latest one
//   "D <page>"                       the page is complete (renamed, or in the multi-page TIFF)
//   "X <errno>"                      the call's result; the companion then exits
#pragma once

#include <cstdint>
#include <string>

namespace pxraster {

constexpr int kChannelFd = 3;

struct Request {
    std::string pdfPath;
    std::string targetPath;
    std::string password;
    bool hasPassword = false;
    int32_t xDpi = 0, yDpi = 0, bitsPerPixel = 0, tiffCompression = 0, jpegQuality = 0,
            grayscale = 0, allInOne = 0, firstPage = 0, lastPage = 0;
};

// Every field as "<length>:<bytes>", so paths and passwords may hold any byte.
inline std::string encodeRequest(const Request& r) {
    std::string out;
    auto field = [&out](const std::string& value) {
        out += std::to_string(value.size());
        out += ':';
        out += value;
    };
    field(r.pdfPath);
    field(r.targetPath);
    field(r.hasPassword ? "1" : "0");
    field(r.password);
    for (int32_t n : {r.xDpi, r.yDpi, r.bitsPerPixel, r.tiffCompression, r.jpegQuality, r.grayscale,
                      r.allInOne, r.firstPage, r.lastPage})
        field(std::to_string(n));
    return out;
}

inline bool decodeRequest(const std::string& in, Request& r) {
    size_t pos = 0;
    auto field = [&](std::string& value) {
        const size_t colon = in.find(':', pos);
        if (colon == std::string::npos || colon == pos || colon - pos > 9)
            return false;
        size_t length = 0;
        for (size_t i = pos; i < colon; ++i) {
            if (in[i] < '0' || in[i] > '9')
                return false;
            length = length * 10 + static_cast<size_t>(in[i] - '0');
        }
        if (in.size() - colon - 1 < length)
            return false;
        value = in.substr(colon + 1, length);
        pos = colon + 1 + length;
        return true;
    };
    auto number = [&](int32_t& value) {
        std::string text;
        if (!field(text))
            return false;
        try {
            size_t used = 0;
            value = static_cast<int32_t>(std::stol(text, &used));
            return used == text.size();
        } catch (...) {
            return false;
        }
    };
    std::string flag;
    if (!field(r.pdfPath) || !field(r.targetPath) || !field(flag) || !field(r.password))
        return false;
    r.hasPassword = flag == "1";
    for (int32_t* n : {&r.xDpi, &r.yDpi, &r.bitsPerPixel, &r.tiffCompression, &r.jpegQuality,
                       &r.grayscale, &r.allInOne, &r.firstPage, &r.lastPage})
        if (!number(*n))
            return false;
    return pos == in.size();
}

} // namespace pxraster
