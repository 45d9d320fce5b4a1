// The page-tree walk on PDFs made of the fuzzer's bytes: however deep, looped or lying the tree,
// it ends with no more pages than /Count claims, each of which then loads or fails cleanly.
#include "render/common/pdfcore.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fz_context* const ctx = pxpdf::newQuietContext(nullptr, size_t{8} << 20);
    if (!ctx)
        return 0;
    fz_stream* stream = nullptr;
    pdf_document* doc = nullptr;
    fz_var(stream);
    fz_var(doc);
    fz_try(ctx) {
        stream = fz_open_memory(ctx, data, size);
        doc = pdf_open_document_with_stream(ctx, stream);
    }
    fz_catch(ctx) {}
    if (doc) {
        const int pages = pxpdf::flattenPageTree(ctx, doc);
        fz_try(ctx) {
            if (pages > 0 && pdf_count_pages(ctx, doc) != pages)
                __builtin_trap();
            pdf_obj* kids = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages/Kids");
            for (int i = 0; i < pages && i < 64; ++i) {
                fz_rect bounds;
                fz_matrix ctm;
                pdf_page_obj_transform(ctx, pdf_array_get(ctx, kids, i), &bounds, &ctm);
            }
        }
        fz_catch(ctx) {}
        fz_try(ctx) {
            pdf_drop_document(ctx, doc);
        }
        fz_catch(ctx) {}
    }
    fz_drop_stream(ctx, stream);
    fz_empty_store(ctx);
    return 0;
}
