// The image files of one call, made on the engine's behalf: the engine, confined, can create
// and name nothing, so it asks this side for each file and for its final name once complete.
// Only the call's own names are ever given: a page's (or the multi-page TIFF's) in the folder
// of the call's target.
#pragma once

#include "render/common/outputnames.h"

#include <map>
#include <string>

namespace pxraster {

class Outputs {
public:
    Outputs(const Target& target, bool multiPage) : target_(target), multiPage_(multiPage) {}
    // Every file not kept is removed (an unnamed one simply closed).
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    // A new, empty file for the page's image (0: the multi-page TIFF), open for reading and
    // writing, for the engine: 0 and *fd (still ours: the engine gets a copy), or an errno value.
    // Pages outside [first, last] of a document of pageCount pages are refused (EPERM).
    int create(int page, int first, int last, int pageCount, int* fd);

    // The page's file is complete: it takes its final name, replacing whatever stood there.
    // 0 or an errno value.
    int keep(int page);

private:
    struct File {
        int fd = -1;           // our own descriptor of it
        std::string temporary; // where it lies while not kept; empty: unnamed (O_TMPFILE)
        std::string final;
    };
    int name(File& file);

    Target target_;
    bool multiPage_;
    std::map<int, File> files_;
};

} // namespace pxraster
