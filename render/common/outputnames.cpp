#include "render/common/outputnames.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace pxraster {

namespace {

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c < 0x80 ? std::tolower(c) : c);
    });
    return text;
}

} // namespace

Target parseTarget(const std::string& targetPath) {
    Target target;
    const size_t slash = targetPath.rfind('/');
    const size_t dot = targetPath.rfind('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot < nameStart) {
        target.base = targetPath;
        return target;
    }
    target.base = targetPath.substr(0, dot);
    target.ext = targetPath.substr(dot + 1);
    const std::string lower = lowerAscii(target.ext);
    if (lower == "jpg" || lower == "jpeg")
        target.format = "jpg";
    else if (lower == "tiff" || lower == "tif")
        target.format = "tiff";
    else if (lower == "bmp" || lower == "png" || lower == "gif" || lower == "pcx" || lower == "tga")
        target.format = lower;
    return target;
}

std::string pageFileName(const Target& target, int page, int pageCount) {
    const std::string number = std::to_string(page);
    const size_t digits = std::to_string(std::max(pageCount, page)).size();
    return target.base + "-" + std::string(digits - number.size(), '0') + number + "." + target.ext;
}

std::string temporaryName(const std::string& finalPath) {
    const size_t slash = finalPath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = finalPath.substr(0, nameStart);
    // A predictable name would let another user plant a link or a FIFO there first.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%012llx",
                  static_cast<unsigned long long>(random() & 0xffffffffffffULL));
    const std::string prefix = ".~", tail = std::string(".") + suffix + ".part";

    // A final name near the longest the file system takes still needs a temporary name: the
    // copied part is cut short, on a character boundary so the name stays valid UTF-8.
    long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0 || nameMax > NAME_MAX)
        nameMax = NAME_MAX;
    const size_t room = static_cast<size_t>(nameMax) > prefix.size() + tail.size()
                            ? static_cast<size_t>(nameMax) - prefix.size() - tail.size()
                            : 0;
    std::string name = finalPath.substr(nameStart);
    if (name.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return folder + prefix + name + tail;
}

} // namespace pxraster
