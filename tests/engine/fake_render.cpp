// Stand-in for the rendering library: records the 13 arguments it was called with in
// "<target>.args" and writes the target file. The PDF it is given is a text file that may say
//   fail=N       set errno to N and return 1 without writing anything (N = 0: errno left 0)
//   gate=PATH    read this FIFO to its end before answering, so a test can hold the call
#include "gate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>

extern "C" __attribute__((visibility("default"))) int
FakeRasterizePdf(const char* pdfPath, const char* targetPath, const char* password, int32_t zero,
                 int32_t xDpi, int32_t yDpi, int32_t bitsPerPixel, int32_t tiffCompression,
                 int32_t jpegQuality, int32_t grayscale, int32_t allInOne, int32_t firstPage,
                 int32_t lastPage) {
    int failure = -1;
    std::ifstream in(pdfPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fail=", 0) == 0)
            failure = std::stoi(line.substr(5));
        else if (line.rfind("gate=", 0) == 0)
            WaitForGate(line.substr(5));
    }
    if (failure >= 0) {
        errno = failure;
        return 1;
    }
    std::ofstream args(std::string(targetPath) + ".args");
    args << pdfPath << '\n'
         << targetPath << '\n'
         << (password ? password : "(null)") << '\n'
         << zero << '\n'
         << xDpi << '\n'
         << yDpi << '\n'
         << bitsPerPixel << '\n'
         << tiffCompression << '\n'
         << jpegQuality << '\n'
         << grayscale << '\n'
         << allInOne << '\n'
         << firstPage << '\n'
         << lastPage << '\n';
    std::ofstream image(targetPath);
    image << "image";
    return args && image ? 0 : (errno = EIO, 1);
}
