// Loads libpxraster.so the way the program does (dlopen by full path, entry point looked up by
// name) and converts one PDF, so benchmarks and tests measure exactly what users get.
//
//   rasterize_driver <library> <pdf> <target> <dpi> <bpp> <tiff-compression> <jpeg-quality>
//                    <grey> <all-in-one> <first> <last> [password]
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

using RasterizePdfProc = int (*)(const char*, const char*, const char*, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);

int main(int argc, char** argv) {
    if (argc != 12 && argc != 13) {
        std::fprintf(stderr,
                     "usage: %s <library> <pdf> <target> <dpi> <bpp> <tiff-compression> "
                     "<jpeg-quality> <grey> <all-in-one> <first> <last> [password]\n",
                     argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load: %s\n", dlerror());
        return 2;
    }
    auto rasterize = reinterpret_cast<RasterizePdfProc>(dlsym(library, "PxRasterizePdf"));
    if (!rasterize) {
        std::fprintf(stderr, "entry point missing\n");
        return 2;
    }
    auto number = [&](int i) { return static_cast<int32_t>(std::strtol(argv[i], nullptr, 10)); };
    const int32_t dpi = number(4);
    errno = 0;
    const int rc =
        rasterize(argv[2], argv[3], argc == 13 ? argv[12] : nullptr, 0, dpi, dpi, number(5),
                  number(6), number(7), number(8), number(9), number(10), number(11));
    const int error = errno;
    dlclose(library);
    if (rc != 0) {
        std::printf("failed: errno %d (%s)\n", error, std::strerror(error));
        return 1;
    }
    return 0;
}
