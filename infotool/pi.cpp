// pi: tells whether a PDF can be read, how many pages it has and whether it needs a password.
//
//   pi "<file>"                  properties, one aligned line each, "Pages:" first
//   pi -upw - "<file>"           the same, opening the file with the user password given as the
//                                first line of standard input (its "\n" or "\r\n" left off)
//   pi -upw <password> "<file>"  the same, with the password as an argument (kept for older
//                                callers: other users may see it while pi starts)
//
// Exit codes: 0 read; 1 user password missing or wrong ("Incorrect password");
// 2 anything else that keeps the file from being read, running out of memory included;
// 3 the time limit ran out.
//
// Limits, so that no file can make pi grow or run without end: 1 GB of address space
// (PI_MEMORY_LIMIT_MB sets it; none in sanitizer builds) and 60 seconds (PI_TIME_LIMIT_S sets
// them), of wall time and, should the alarm be kept from us, of processor time.
#include "render/common/envnumber.h"
#include "render/common/pdfcore.h"
#include "render/common/sanitized.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitRead = 0;
constexpr int kExitPassword = 1;
constexpr int kExitUnreadable = 2;
constexpr int kExitTimeout = 3;
constexpr unsigned kDefaultTimeLimitSeconds = 60;
constexpr long kDefaultMemoryLimitMb = 1024;
constexpr rlim_t kCpuGraceSeconds = 5; // past the soft CPU limit, the kernel kills
constexpr size_t kMaxPasswordBytes = 4096;

void onTimeLimit(int) {
    static const char message[] = "pi: time limit exceeded while reading the file\n";
    ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    _exit(kExitTimeout);
}

void armTimeLimit() {
    unsigned seconds = kDefaultTimeLimitSeconds;
    if (const char* text = std::getenv("PI_TIME_LIMIT_S")) {
        const long value = std::strtol(text, nullptr, 10);
        if (value > 0)
            seconds = static_cast<unsigned>(value);
    }
    std::signal(SIGALRM, onTimeLimit);
    std::signal(SIGXCPU, onTimeLimit);
    // A caller may start us with the signals blocked; they would then never end a long read.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGALRM);
    sigaddset(&signals, SIGXCPU);
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
    alarm(seconds);
    rlimit cpu{};
    if (getrlimit(RLIMIT_CPU, &cpu) == 0) {
        const rlim_t hard = std::min<rlim_t>(cpu.rlim_max, seconds + kCpuGraceSeconds);
        const rlimit limited{std::min<rlim_t>(hard, seconds), hard};
        setrlimit(RLIMIT_CPU, &limited);
    }
}

// An allocation that fails then fails the read ("out of memory", exit 2) instead of the file
// taking the machine's memory.
void limitMemory() {
#ifndef PX_SANITIZED
    const auto bytes =
        static_cast<rlim_t>(pxraster::envNumber("PI_MEMORY_LIMIT_MB", kDefaultMemoryLimitMb)) << 20;
    rlimit memory{};
    if (getrlimit(RLIMIT_AS, &memory) == 0) {
        const rlim_t limit = std::min(bytes, memory.rlim_max);
        const rlimit limited{limit, limit};
        setrlimit(RLIMIT_AS, &limited);
    }
#endif
}

// The first line of standard input without its "\n" or "\r\n"; an empty line is the empty
// password. False when it cannot be read or is absurdly long.
bool readPasswordLine(std::string& password) {
    password.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (c == '\n')
            break;
        if (password.size() == kMaxPasswordBytes)
            return false;
        password.push_back(c);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

// Messages never repeat the file name: it is the user's text and may say anything.
int fail(const char* message) {
    std::fprintf(stderr, "pi: %s\n", message);
    return kExitUnreadable;
}

// One line of metadata: control characters would break the line layout.
std::string clean(const std::string& text) {
    std::string out;
    for (char c : text)
        out.push_back((static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c);
    const size_t first = out.find_first_not_of(' ');
    const size_t last = out.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

std::string metadata(fz_context* ctx, pdf_document* doc, const char* key) {
    char buffer[1024] = {};
    int length = -1;
    fz_var(length);
    fz_try(ctx) {
        length = fz_lookup_metadata(ctx, &doc->super, key, buffer, sizeof buffer);
    }
    fz_catch(ctx) {
        length = -1;
    }
    return length > 0 ? clean(buffer) : std::string();
}

// "D:20240102103000+01'00'" -> "2024-01-02 10:30:00 +01:00"; other text unchanged.
std::string readableDate(const std::string& raw) {
    std::string digits = raw.rfind("D:", 0) == 0 ? raw.substr(2) : raw;
    size_t n = 0;
    while (n < digits.size() && n < 14 && std::isdigit(static_cast<unsigned char>(digits[n])))
        ++n;
    if (n < 8)
        return raw;
    std::string out = digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
    if (n >= 12)
        out += " " + digits.substr(8, 2) + ":" + digits.substr(10, 2);
    if (n >= 14)
        out += ":" + digits.substr(12, 2);
    const std::string zone = digits.substr(n);
    if (zone.rfind("Z", 0) == 0) {
        out += " UTC";
    } else if (zone.size() >= 3 && (zone[0] == '+' || zone[0] == '-')) {
        out += " " + zone.substr(0, 3);
        if (zone.size() >= 6 && zone[3] == '\'')
            out += ":" + zone.substr(4, 2);
    }
    return out;
}

std::string firstPageSize(fz_context* ctx, pdf_document* doc) {
    fz_page* page = nullptr;
    fz_rect box = fz_empty_rect;
    bool ok = false;
    fz_var(page);
    fz_var(box);
    fz_var(ok);
    fz_try(ctx) {
        page = fz_load_page(ctx, &doc->super, 0);
        box = fz_bound_page(ctx, page);
        ok = true;
    }
    fz_always(ctx) {
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx) {
        ok = false;
    }
    if (!ok)
        return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%g x %g pts", box.x1 - box.x0, box.y1 - box.y0);
    return text;
}

void line(const char* label, const std::string& value) {
    std::printf("%-16s%s\n", label, value.c_str());
}

int report(fz_context* ctx, pdf_document* doc, int pages, const char* path) {
    struct stat st {};
    const long long fileSize = ::stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    const std::string encryption = metadata(ctx, doc, FZ_META_ENCRYPTION);
    std::string version = metadata(ctx, doc, FZ_META_FORMAT);
    if (version.rfind("PDF ", 0) == 0)
        version = version.substr(4);

    // "Pages:" comes first so that no metadata text can be taken for it.
    line("Pages:", std::to_string(pages));
    line("Title:", metadata(ctx, doc, FZ_META_INFO_TITLE));
    line("Author:", metadata(ctx, doc, FZ_META_INFO_AUTHOR));
    line("Subject:", metadata(ctx, doc, FZ_META_INFO_SUBJECT));
    line("Creator:", metadata(ctx, doc, FZ_META_INFO_CREATOR));
    line("Producer:", metadata(ctx, doc, FZ_META_INFO_PRODUCER));
    line("CreationDate:", readableDate(metadata(ctx, doc, FZ_META_INFO_CREATIONDATE)));
    line("ModDate:", readableDate(metadata(ctx, doc, FZ_META_INFO_MODIFICATIONDATE)));
    line("Encrypted:",
         encryption.empty() || encryption == "None" ? "no" : "yes (" + encryption + ")");
    line("Page size:", firstPageSize(ctx, doc));
    line("File size:", std::to_string(fileSize) + " bytes");
    line("PDF version:", version);
    std::fflush(stdout);
    return kExitRead;
}

int usage() {
    std::fprintf(stderr, "usage: pi [-upw -] <file>   (the password on standard input)\n"
                         "       pi [-upw <password>] <file>\n");
    return kExitUnreadable;
}

int examine(int argc, char** argv) {
    // Other local users can read a command line in /proc while we run: a password given there
    // is copied and wiped from the argument memory before anything else happens.
    static std::string passwordCopy;
    const char* password = nullptr;
    const char* path = nullptr;
    if (argc == 2 && std::strcmp(argv[1], "-upw") != 0)
        path = argv[1];
    else if (argc == 4 && std::strcmp(argv[1], "-upw") == 0) {
        if (std::strcmp(argv[2], "-") == 0) {
            if (!readPasswordLine(passwordCopy))
                return fail("cannot read the password from standard input");
        } else {
            passwordCopy = argv[2];
            std::memset(argv[2], 'x', passwordCopy.size());
        }
        password = passwordCopy.c_str();
        path = argv[3];
    } else
        return usage();

    fz_context* ctx = pxpdf::newQuietContext(nullptr, FZ_STORE_DEFAULT);
    if (!ctx)
        return fail("out of memory");

    int exitCode = kExitUnreadable;
    pxpdf::OpenResult opened = pxpdf::openPdf(ctx, path, password);
    switch (opened.status) {
    case pxpdf::OpenStatus::Ok: {
        const int pages = pxpdf::flattenPageTree(ctx, opened.doc);
        exitCode = pages > 0                          ? report(ctx, opened.doc, pages, path)
                   : pages == pxpdf::kTreeOutOfMemory ? fail("out of memory")
                                                      : fail("the file has no readable pages");
        fz_try(ctx) {
            pdf_drop_document(ctx, opened.doc);
        }
        fz_catch(ctx) {}
        break;
    }
    case pxpdf::OpenStatus::NeedsPassword:
        std::fprintf(stderr, "Incorrect password\n");
        exitCode = kExitPassword;
        break;
    case pxpdf::OpenStatus::NotFound:
    case pxpdf::OpenStatus::NoAccess:
        std::fprintf(stderr, "pi: cannot open the file: %s\n", std::strerror(opened.sysError));
        exitCode = kExitUnreadable;
        break;
    case pxpdf::OpenStatus::NoMemory:
        exitCode = fail("out of memory");
        break;
    case pxpdf::OpenStatus::Damaged:
        exitCode = fail("the file is not a PDF or is damaged beyond repair");
        break;
    }
    fz_drop_context(ctx);
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    armTimeLimit();
    limitMemory();
    try {
        return examine(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (...) {
        return fail("the file could not be read");
    }
}
