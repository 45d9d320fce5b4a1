// Opening PDFs with MuPDF the way both the rendering companion and the information tool need it:
// a quiet context, passwords tried in both 8-bit encodings, and the page count the document
// really has (damaged files can claim absurd counts).
#pragma once

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

namespace pxpdf {

// The locks MuPDF needs when contexts are cloned for other threads; must outlive the context.
struct Locks {
    std::array<std::mutex, FZ_LOCK_MAX> mutexes;
    fz_locks_context context();
};

// New base context that never prints (warnings and errors are swallowed); nullptr on failure.
// `locks` may be null for single-threaded use; `storeBytes` limits MuPDF's resource cache.
fz_context* newQuietContext(fz_locks_context* locks, size_t storeBytes);

// Makes a context (a clone, for instance) silent as well.
void silence(fz_context* ctx);

// The password as given, then (when it holds non-ASCII bytes) in the other 8-bit encoding:
// UTF-8 text as PDFDocEncoding/Latin-1 bytes, or 8-bit text as UTF-8. Older RC4/AES-128
// revisions compare bytes in PDFDocEncoding, the AES-256 ones take UTF-8.
std::vector<std::string> passwordVariants(const std::string& password);

enum class OpenStatus { Ok, NotFound, NoAccess, Damaged, NeedsPassword, NoMemory };

struct OpenResult {
    OpenStatus status = OpenStatus::Damaged;
    pdf_document* doc = nullptr; // owned by the caller when status is Ok
    std::string password;        // the variant that opened it (empty when none was needed)
    int sysError = 0;            // errno of a failed open() for NotFound/NoAccess
};

// Opens `path` and authenticates with `password` (null or empty: none). Never throws.
OpenResult openPdf(fz_context* ctx, const char* path, const char* password);

// The same on a regular file open for reading, which the document reads with pread (so several
// documents may share it) and which must stay open as long as the document.
OpenResult openPdf(fz_context* ctx, int fd, const char* password);

// Opens a file already known to open with exactly `password` (as found by openPdf), its page
// tree flattened as by flattenPageTree. Returns nullptr on failure. Never throws.
pdf_document* reopenPdf(fz_context* ctx, const char* path, const std::string& password);
pdf_document* reopenPdf(fz_context* ctx, int fd, const std::string& password);

constexpr int kTreeOutOfMemory = -1;

// Walks the page tree once and makes its pages, never more than the tree's /Count claims, the
// document's only pages: a flat tree in memory, so fz_load_page(n) loads exactly the n-th page
// found, however deep or looped the file's tree is. Returns their number, 0 when there are
// none, kTreeOutOfMemory when memory ran out on the way. Never throws.
int flattenPageTree(fz_context* ctx, pdf_document* doc);

} // namespace pxpdf
