// What the rendering library and its companion process say to each other over the socket the
// companion finds as descriptor kChannelFd. Both ends encode and decode only through here, so
// they cannot drift apart; the version in the request makes a companion from another build
// refuse the call instead of misreading it.
//
// The companion serves one request after another until the library closes the channel.
// Library -> companion, per call: the request framed as one field (frameRequest).
// Companion -> library, one line each (encodeReport):
//   "P <pageCount>"                  the file is open and has this many pages
//   "R <pageCount> <first> <last>"  the clamped range, before any file is written
//   "B <page>"                       the page is being rendered; its temporary file may appear.
//                                    Sent again while the page waits for others
//   "B <page> <bandsDone> <bands>"   of a page drawn in bands, after each band; <bands> counts
//                                    every pass the writer usually makes over the rows
//   "D <page>"                       the page is complete (kept, or in the multi-page TIFF)
//   "O <page>"                       asks for a new, empty file for the page's image (0: the
//                                    multi-page TIFF); the engine waits for the answer
//   "K <page>"                       that file is complete: it is to get its final name; the
//                                    engine waits for the answer
//   "X <errno>"                      the call's result; the companion then waits for the next
//                                    request, with MuPDF's caches and the document dropped
// Library -> companion, to O and K only, one line each (encodeAnswer): "A <errno>", with the
// file's descriptor attached (SCM_RIGHTS) to an O answered 0. The companion creates, names and
// removes no file itself: the library creates each one unnamed in the call's output folder and
// names it when kept, so the companion needs no right to write anywhere. The PDF comes the same
// way, its descriptor attached to the request's first byte.
// Any B restarts the page's no-progress time limit; only a B without bands restarts its overall
// limit (the page starts, or waits for others). Numbers in reports are decimal, unsigned and
// without leading zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pxraster {

constexpr int kChannelFd = 3;
constexpr int32_t kProtocolVersion = 3;
// What a resting companion says first to the caller that takes it over.
inline constexpr char kRestGreeting[] = "pxrender ready 3\n";
// Far longer than any report.
constexpr size_t kMaxReportBytes = 256;

struct Request {
    std::string pdfPath;
    std::string targetPath;
    std::string password;
    bool hasPassword = false;
    int32_t xDpi = 0, yDpi = 0, bitsPerPixel = 0, tiffCompression = 0, jpegQuality = 0,
            grayscale = 0, allInOne = 0, firstPage = 0, lastPage = 0;

    bool operator==(const Request&) const = default;
};

// Every field as "<length>:<bytes>", so paths and passwords may hold any byte; the first field
// is kProtocolVersion.
std::string encodeRequest(const Request& request);
// False for anything encodeRequest of this version would not have written.
bool decodeRequest(std::string_view in, Request& request);

// The request as one "<length>:<bytes>" field, so a companion that serves call after call
// knows where each request ends.
std::string frameRequest(const Request& request);

enum class Framing { Incomplete, Complete, Garbled };
// Takes one framed request off the front of `buffer` into `request`; Incomplete while more
// bytes must come, Garbled for bytes no library of this build sends.
Framing takeRequest(std::string& buffer, Request& request);

enum class ReportKind : char {
    Pages = 'P',
    Range = 'R',
    Busy = 'B',
    Done = 'D',
    OpenFile = 'O',
    KeepFile = 'K',
    Result = 'X',
};

struct Report {
    ReportKind kind = ReportKind::Result;
    int32_t pageCount = 0, first = 0, last = 0; // Range; Pages has pageCount only
    int32_t page = 0;                           // Busy, Done, OpenFile, KeepFile
    int32_t bandsDone = 0, bandCount = 0;       // Busy; bandCount 0: no band reported
    int32_t result = 0;                         // Result: 0 or an errno value

    static Report pages(int32_t pageCount);
    static Report range(int32_t pageCount, int32_t first, int32_t last);
    static Report busy(int32_t page, int32_t bandsDone = 0, int32_t bandCount = 0);
    static Report done(int32_t page);
    static Report openFile(int32_t page);
    static Report keepFile(int32_t page);
    static Report finished(int32_t result);

    bool operator==(const Report&) const = default;
};

// One line, its '\n' included.
std::string encodeReport(const Report& report);
// `line` is one line with its '\n'. False, leaving `report` alone, for anything encodeReport
// would not have written of a report that makes sense (a range ending before it starts, more
// bands done than there are).
bool decodeReport(std::string_view line, Report& report);

// The library's answer to an OpenFile or KeepFile report: 0 or an errno value, its '\n'
// included.
std::string encodeAnswer(int32_t error);
bool decodeAnswer(std::string_view line, int32_t& error);

} // namespace pxraster
