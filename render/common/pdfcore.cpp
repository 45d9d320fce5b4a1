#include "render/common/pdfcore.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

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

constexpr size_t kMaxTreeDepth = 10000; // far beyond real files, still bounded

// Keys a page inherits from its ancestors in the page tree.
constexpr int kInheritable = 4;
pdf_obj* inheritableKey(int i) {
    pdf_obj* const keys[kInheritable] = {PDF_NAME(MediaBox), PDF_NAME(CropBox), PDF_NAME(Rotate),
                                         PDF_NAME(Resources)};
    return keys[i];
}

struct TreeNode {
    pdf_obj* node;
    pdf_obj* inherited[kInheritable]; // own value, else the nearest ancestor's; may be null
};

struct Branch {
    TreeNode at;
    pdf_obj* kids;
    int next;
};

// What a page tree walk collects. It lives outside the walk's fz_try: a MuPDF error jumps over
// the walk's frames, which therefore hold nothing that needs destroying.
struct Walk {
    explicit Walk(fz_context* c) : ctx(c) {}

    fz_context* ctx;
    std::vector<TreeNode> leaves;
    std::vector<Branch> path;
    std::unordered_set<int> seen;
    // Every object remembered in leaves and path, dropped by the caller: a repair of the
    // cross-reference table while we walk may drop objects the document held.
    std::vector<pdf_obj*> kept;
};

// Runs a container operation; a C++ exception must not cross MuPDF's fz_try.
template <typename Operation> void orThrowNoMemory(fz_context* ctx, Operation operation) {
    bool done = false;
    try {
        operation();
        done = true;
    } catch (...) {
    }
    if (!done)
        fz_throw(ctx, FZ_ERROR_MEMORY, "page tree walk");
}

pdf_obj* keep(Walk& walk, pdf_obj* obj) {
    if (walk.kept.size() == walk.kept.capacity()) // grown ahead, so push_back cannot throw
        orThrowNoMemory(walk.ctx, [&] { walk.kept.reserve(2 * walk.kept.size() + 16); });
    walk.kept.push_back(pdf_keep_obj(walk.ctx, obj));
    return obj;
}

TreeNode treeNode(Walk& walk, pdf_obj* node, const TreeNode* parent) {
    TreeNode made{keep(walk, node), {}};
    for (int i = 0; i < kInheritable; ++i) {
        pdf_obj* own = pdf_dict_get(walk.ctx, node, inheritableKey(i));
        made.inherited[i] = own ? keep(walk, own) : parent ? parent->inherited[i] : nullptr;
    }
    return made;
}

// Collects the pages of the tree below `root` in document order, at most `limit`. Iterative,
// so depth costs no stack; a node met a second time (a loop, or a branch listed twice) is
// skipped, as are branches deeper than kMaxTreeDepth. Throws MuPDF errors.
void collectPages(Walk& walk, pdf_obj* root, int limit) {
    fz_context* ctx = walk.ctx;
    pdf_obj* node = root;
    while (true) {
        bool first = false;
        if (node && pdf_is_dict(ctx, node)) {
            first = !pdf_is_indirect(ctx, node);
            if (!first)
                orThrowNoMemory(ctx,
                                [&] { first = walk.seen.insert(pdf_to_num(ctx, node)).second; });
        }
        if (first) {
            pdf_obj* type = pdf_dict_get(ctx, node, PDF_NAME(Type));
            pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
            const TreeNode* parent = walk.path.empty() ? nullptr : &walk.path.back().at;
            if (pdf_is_array(ctx, kids) && !pdf_name_eq(ctx, type, PDF_NAME(Page))) {
                if (walk.path.size() < kMaxTreeDepth) {
                    const Branch branch{treeNode(walk, node, parent), kids, 0};
                    orThrowNoMemory(ctx, [&] { walk.path.push_back(branch); });
                }
            } else if (!pdf_name_eq(ctx, type, PDF_NAME(Pages))) {
                const TreeNode leaf = treeNode(walk, node, parent);
                orThrowNoMemory(ctx, [&] { walk.leaves.push_back(leaf); });
                if (static_cast<int>(walk.leaves.size()) >= limit)
                    return;
            }
        }
        node = nullptr;
        while (!walk.path.empty() &&
               walk.path.back().next >= pdf_array_len(ctx, walk.path.back().kids))
            walk.path.pop_back();
        if (walk.path.empty())
            return;
        node = pdf_array_get(ctx, walk.path.back().kids, walk.path.back().next++);
    }
}

// Makes /Root/Pages a single node listing `leaves`. Each leaf gets what it inherits as its own
// and the new node as /Parent: MuPDF looks inherited keys up through /Parent with a depth limit
// of its own, and fails on a loop there.
void replacePageTree(fz_context* ctx, pdf_document* doc, const std::vector<TreeNode>& leaves) {
    pdf_obj* flat = nullptr;
    fz_var(flat);
    fz_try(ctx) {
        flat = pdf_add_new_dict(ctx, doc, 3);
        pdf_dict_put(ctx, flat, PDF_NAME(Type), PDF_NAME(Pages));
        pdf_obj* kids =
            pdf_dict_put_array(ctx, flat, PDF_NAME(Kids), static_cast<int>(leaves.size()));
        for (const TreeNode& leaf : leaves) {
            for (int i = 0; i < kInheritable; ++i)
                if (leaf.inherited[i] && !pdf_dict_get(ctx, leaf.node, inheritableKey(i)))
                    pdf_dict_put(ctx, leaf.node, inheritableKey(i), leaf.inherited[i]);
            pdf_dict_put(ctx, leaf.node, PDF_NAME(Type), PDF_NAME(Page));
            pdf_dict_put(ctx, leaf.node, PDF_NAME(Parent), flat);
            pdf_array_push(ctx, kids, leaf.node);
        }
        pdf_dict_put_int(ctx, flat, PDF_NAME(Count), static_cast<int64_t>(leaves.size()));
        pdf_dict_put(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root)), PDF_NAME(Pages),
                     flat);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, flat);
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
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

// A stream over a descriptor shared by several documents: each keeps its own position.
struct FdStream {
    int fd;
    int64_t size;
    unsigned char buffer[16384];
};

int nextFromFd(fz_context* ctx, fz_stream* stm, size_t) {
    auto* state = static_cast<FdStream*>(stm->state);
    ssize_t n;
    do {
        n = ::pread(state->fd, state->buffer, sizeof state->buffer, stm->pos);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "read error");
    stm->rp = state->buffer;
    stm->wp = state->buffer + n;
    stm->pos += n;
    return n == 0 ? EOF : *stm->rp++;
}

// fz_seek has turned SEEK_CUR into SEEK_SET already.
void seekInFd(fz_context* ctx, fz_stream* stm, int64_t offset, int whence) {
    auto* state = static_cast<FdStream*>(stm->state);
    const int64_t to = whence == SEEK_END ? state->size + offset : offset;
    if (to < 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot seek");
    stm->pos = to;
    stm->rp = stm->wp = state->buffer;
}

void dropFdStream(fz_context* ctx, void* state) {
    fz_free(ctx, state);
}

// Throws MuPDF errors.
pdf_document* openFromFd(fz_context* ctx, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        fz_throw(ctx, FZ_ERROR_GENERIC, "cannot stat");
    auto* state = static_cast<FdStream*>(fz_malloc(ctx, sizeof(FdStream)));
    state->fd = fd;
    state->size = st.st_size;
    fz_stream* stm = nullptr;
    pdf_document* doc = nullptr;
    fz_var(stm);
    fz_var(doc);
    fz_try(ctx) {
        stm = fz_new_stream(ctx, state, nextFromFd, dropFdStream);
        stm->seek = seekInFd;
        doc = pdf_open_document_with_stream(ctx, stm);
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stm); // the document keeps its own reference
    }
    fz_catch(ctx) {
        fz_rethrow(ctx);
    }
    return doc;
}

// The document from `open` (which throws MuPDF errors), authenticated. Never throws.
template <typename Open>
OpenResult openAndAuthenticate(fz_context* ctx, Open open, const char* password) {
    OpenResult result;
    pdf_document* doc = nullptr;
    int code = FZ_ERROR_NONE;
    fz_var(doc);
    fz_var(code);
    fz_try(ctx) {
        doc = open(ctx);
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

    return openAndAuthenticate(
        ctx, [path](fz_context* c) { return pdf_open_document(c, path); }, password);
}

OpenResult openPdf(fz_context* ctx, int fd, const char* password) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {}; // a folder or a device is no PDF
    return openAndAuthenticate(
        ctx, [fd](fz_context* c) { return openFromFd(c, fd); }, password);
}

namespace {

template <typename Open>
pdf_document* reopenAndFlatten(fz_context* ctx, Open open, const std::string& password) {
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) {
        doc = open(ctx);
        if (pdf_needs_password(ctx, doc) && !pdf_authenticate_password(ctx, doc, password.c_str()))
            fz_throw(ctx, FZ_ERROR_GENERIC, "password no longer accepted");
    }
    fz_catch(ctx) {
        pdf_drop_document(ctx, doc);
        doc = nullptr;
    }
    if (doc && flattenPageTree(ctx, doc) <= 0) {
        fz_try(ctx) {
            pdf_drop_document(ctx, doc);
        }
        fz_catch(ctx) {}
        doc = nullptr;
    }
    return doc;
}

} // namespace

pdf_document* reopenPdf(fz_context* ctx, const char* path, const std::string& password) {
    return reopenAndFlatten(
        ctx, [path](fz_context* c) { return pdf_open_document(c, path); }, password);
}

pdf_document* reopenPdf(fz_context* ctx, int fd, const std::string& password) {
    return reopenAndFlatten(
        ctx, [fd](fz_context* c) { return openFromFd(c, fd); }, password);
}

int flattenPageTree(fz_context* ctx, pdf_document* doc) {
    int count = 0;
    fz_var(count);
    try {
        Walk walk(ctx);
        fz_try(ctx) {
            const int claimed = pdf_count_pages(ctx, doc);
            if (claimed > 0) {
                collectPages(walk, pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages"),
                             claimed);
                if (!walk.leaves.empty())
                    replacePageTree(ctx, doc, walk.leaves);
                count = static_cast<int>(walk.leaves.size());
            }
        }
        fz_always(ctx) {
            for (pdf_obj* obj : walk.kept)
                pdf_drop_obj(ctx, obj);
        }
        fz_catch(ctx) {
            count = fz_caught(ctx) == FZ_ERROR_MEMORY ? kTreeOutOfMemory : 0;
        }
    } catch (const std::bad_alloc&) {
        count = kTreeOutOfMemory;
    } catch (...) {
        count = 0;
    }
    return count;
}

} // namespace pxpdf
