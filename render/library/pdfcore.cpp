#include "render/library/pdfcore.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pxpdf {

namespace {

void lockMutex(void* user, int lock) {
    static_cast<Locks*>(user)->mutexes[lock].lock();
}
void unlockMutex(void* user, int lock) {
    static_cast<Locks*>(user)->mutexes[lock].unlock();
}
void ignoreMessage(void*, const char*) {}

// Decodes UTF-8; false when `text` is not well-formed UTF-8.
bool decodeUtf8(const std::string& text, std::vector<unsigned>* codePoints) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        unsigned cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) {
            extra = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        codePoints->push_back(cp);
        i += 1 + extra;
    }
    return true;
}

void appendUtf8(std::string* out, unsigned cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// PDFDocEncoding byte for a code point, -1 when it has none.
int pdfDocByte(unsigned cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    for (int b = 0x80; b < 0x100; ++b)
        if (fz_unicode_from_pdf_doc_encoding[b] == cp)
            return b;
    return cp <= 0xFF ? static_cast<int>(cp) : -1;
}

int countLeaves(fz_context* ctx, pdf_obj* node, int depth, int limit) {
    if (depth > 64 || !pdf_is_dict(ctx, node))
        return 0;
    pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    if (!pdf_is_array(ctx, kids) ||
        pdf_name_eq(ctx, pdf_dict_get(ctx, node, PDF_NAME(Type)), PDF_NAME(Page)))
        return 1;
    if (pdf_mark_obj(ctx, node))
        return 0; // a cycle: this subtree adds nothing
    int total = 0;
    fz_try(ctx) {
        const int n = pdf_array_len(ctx, kids);
        for (int i = 0; i < n && total < limit; ++i)
            total += countLeaves(ctx, pdf_array_get(ctx, kids, i), depth + 1, limit - total);
    }
    fz_always(ctx) {
        pdf_unmark_obj(ctx, node);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
    return total;
}

// 1 when a password is needed, 0 when not, -1 on a MuPDF error.
int needsPassword(fz_context* ctx, pdf_document* doc) {
    int needs = -1;
    fz_var(needs);
    fz_try(ctx) {
        needs = pdf_needs_password(ctx, doc) ? 1 : 0;
    }
    fz_catch(ctx) {
        needs = -1;
    }
    return needs;
}

// 1 when `password` opens the document, 0 when not, -1 on a MuPDF error.
int authenticate(fz_context* ctx, pdf_document* doc, const char* password) {
    int accepted = -1;
    fz_var(accepted);
    fz_try(ctx) {
        accepted = pdf_authenticate_password(ctx, doc, password) ? 1 : 0;
    }
    fz_catch(ctx) {
        accepted = -1;
    }
    return accepted;
}

} // namespace

fz_locks_context Locks::context() {
    return fz_locks_context{this, lockMutex, unlockMutex};
}

void silence(fz_context* ctx) {
    fz_set_warning_callback(ctx, ignoreMessage, nullptr);
    fz_set_error_callback(ctx, ignoreMessage, nullptr);
}

fz_context* newQuietContext(fz_locks_context* locks, size_t storeBytes) {
    fz_context* ctx = fz_new_context(nullptr, locks, storeBytes);
    if (ctx)
        silence(ctx);
    return ctx;
}

std::vector<std::string> passwordVariants(const std::string& password) {
    std::vector<std::string> variants{password};
    bool ascii = true;
    for (char c : password)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return variants;
    std::vector<unsigned> cps;
    std::string other;
    if (decodeUtf8(password, &cps)) {
        for (unsigned cp : cps) {
            const int b = pdfDocByte(cp);
            if (b < 0)
                return variants; // not expressible in 8 bits: only the UTF-8 form can match
            other.push_back(static_cast<char>(b));
        }
    } else {
        for (char c : password) {
            const unsigned char b = static_cast<unsigned char>(c);
            const unsigned cp = b < 0x80 ? b : fz_unicode_from_pdf_doc_encoding[b];
            appendUtf8(&other, cp ? cp : b);
        }
    }
    if (other != password)
        variants.push_back(other);
    return variants;
}

OpenResult openPdf(fz_context* ctx, const char* path, const char* password) {
    OpenResult result;
    struct stat st {};
    // Non-blocking: a named pipe given as the file must not stall us before it is refused.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.sysError = errno;
        result.status = (errno == ENOENT || errno == ENOTDIR) ? OpenStatus::NotFound
                        : (errno == EACCES || errno == EPERM) ? OpenStatus::NoAccess
                                                              : OpenStatus::Damaged;
        return result;
    }
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular)
        return result; // a folder or a device is no PDF

    pdf_document* doc = nullptr;
    int code = FZ_ERROR_NONE;
    fz_var(doc);
    fz_var(code);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path);
    }
    fz_catch(ctx) {
        code = fz_caught(ctx);
    }
    if (!doc) {
        result.status = code == FZ_ERROR_MEMORY ? OpenStatus::NoMemory : OpenStatus::Damaged;
        return result;
    }

    const int needs = needsPassword(ctx, doc);
    bool opened = needs == 0;
    if (needs < 0)
        code = FZ_ERROR_GENERIC;
    else if (needs > 0 && password && *password) {
        for (const std::string& candidate : passwordVariants(password)) {
            const int accepted = authenticate(ctx, doc, candidate.c_str());
            if (accepted < 0) {
                code = FZ_ERROR_GENERIC;
                break;
            }
            if (accepted > 0) {
                result.password = candidate;
                opened = true;
                break;
            }
        }
    }
    if (code != FZ_ERROR_NONE) {
        pdf_drop_document(ctx, doc);
        result.status = code == FZ_ERROR_MEMORY ? OpenStatus::NoMemory : OpenStatus::Damaged;
        return result;
    }
    if (!opened) {
        pdf_drop_document(ctx, doc);
        result.status = OpenStatus::NeedsPassword;
        return result;
    }
    result.doc = doc;
    result.status = OpenStatus::Ok;
    return result;
}

pdf_document* reopenPdf(fz_context* ctx, const char* path, const std::string& password) {
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path);
        if (pdf_needs_password(ctx, doc) && !pdf_authenticate_password(ctx, doc, password.c_str()))
            fz_throw(ctx, FZ_ERROR_GENERIC, "password no longer accepted");
    }
    fz_catch(ctx) {
        pdf_drop_document(ctx, doc);
        doc = nullptr;
    }
    return doc;
}

int realPageCount(fz_context* ctx, pdf_document* doc) {
    int count = 0;
    fz_var(count);
    fz_try(ctx) {
        const int claimed = pdf_count_pages(ctx, doc);
        if (claimed > 0) {
            pdf_obj* root = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
            count = countLeaves(ctx, root, 0, claimed);
            if (count > claimed)
                count = claimed;
        }
    }
    fz_catch(ctx) {
        count = 0;
    }
    return count;
}

} // namespace pxpdf
