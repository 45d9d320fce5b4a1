#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Entry point of the rendering library: writes the images of one PDF. The three texts are 8-bit
// text in the system code page (UTF-8), the password a null pointer when there is none. Returns 0
// when the images were written; otherwise errno tells why.
using RasterizePdfProc = int (*)(const char* pdfPath, const char* targetPath, const char* password,
                                 int32_t zero, int32_t xDpi, int32_t yDpi, int32_t bitsPerPixel,
                                 int32_t tiffCompression, int32_t jpegQuality, int32_t grayscale,
                                 int32_t allInOne, int32_t firstPage, int32_t lastPage);

// Second entry of the rendering library: makes every running RasterizePdf call abort its pages,
// remove its partial files and return (errno ECANCELED) within about a second.
using CancelRasterizeProc = void (*)();

// Third entry: how far the newest call in progress has got (pages written, pages in its range,
// and thousandths of a page drawn of pages drawn in bands). Returns 0 when no call runs. Any
// thread may ask while the call runs.
using RasterizeProgressProc = int (*)(int32_t* pagesDone, int32_t* pagesInRange,
                                      int32_t* bandThousandths);

// Fourth entry: what the calling thread's latest call that returned found: the document's page
// count (0 when it was never opened), pages written, and pages in its range (0 when no page of
// the range is in the document). Returns 0 when this thread made no call.
using RasterizeLastCallProc = int (*)(int32_t* pageCount, int32_t* pagesDone,
                                      int32_t* pagesInRange);

// The exported names of the four entries, revealed by RevealRenderEntryNames before a
// conversion starts.
extern QByteArray RasterizeProcName;
extern QByteArray CancelProcName;
extern QByteArray ProgressProcName;
extern QByteArray LastCallProcName;

// Reveals the four entry names. GUI or main thread, before a conversion pass starts.
void RevealRenderEntryNames();

// Command line of the information tool asking about one file.
QString ProbeCommandLine(const QString& filePath);

// Command line of the information tool trying a user password, which it reads from its standard
// input ("-upw -"): on a command line every local user could read it.
QString UnlockCommandLine(const QString& filePath);
