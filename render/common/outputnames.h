// How the rendering library and its companion name what they write.
#pragma once

#include <string>

namespace pxraster {

struct Target {
    std::string base;   // target path without its extension
    std::string ext;    // extension as given (without the dot)
    std::string format; // companion format: jpg bmp png gif tiff pcx tga; empty when unknown
};

// Splits the target path; the extension is what follows the last "." of the file name.
Target parseTarget(const std::string& targetPath);

// base + "-" + page padded with zeros to the digit count of `pageCount` + "." + ext.
std::string pageFileName(const Target& target, int page, int pageCount);

// A name in the same folder that the program's progress count (base*.ext) never matches and
// nobody can guess: ".~" + file name + "." + 12 random hex digits + ".part", the file name cut
// short (at a UTF-8 character boundary) where the whole would pass the folder's NAME_MAX.
std::string temporaryName(const std::string& finalPath);

} // namespace pxraster
