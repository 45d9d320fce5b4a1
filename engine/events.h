#pragma once

#include <QString>

// How far the render call of one file has got.
struct PageProgress {
    int pagesDone = 0;       // pages of the range written
    int pagesInRange = 0;    // 0 until the renderer has opened the file
    int bandThousandths = 0; // drawn share of the pages being drawn in bands, per mille of a page

    // The share of the file done, 0..1; 0 while the range is unknown.
    double fraction() const {
        if (pagesInRange <= 0)
            return 0;
        const double done = pagesDone + bandThousandths / 1000.0;
        return done >= pagesInRange ? 1.0 : done / pagesInRange;
    }
    // The page being drawn, counted from 1 within the range.
    int pageInHand() const { return pagesDone < pagesInRange ? pagesDone + 1 : pagesInRange; }
    bool operator==(const PageProgress&) const = default;
};

// What the passes tell their front end: the window turns these into its messages and boxes, the
// convert command into lines of text. Called on the worker's thread (PagesDone on a helper
// thread of the conversion pass); positions are indexes in the job list.
class EngineEvents {
public:
    virtual ~EngineEvents() = default;

    // Probe pass: the position's entry was probed, the n-th of this pass; then the pass ended.
    virtual void FileProbed(int position, int probed) = 0;
    virtual void ProbeEnded() = 0;

    // Conversion pass, per file: taken up, render call about to start, its progress, converted.
    virtual void FileStarted(int position) = 0;
    virtual void RenderStarted(int position) = 0;
    virtual void PagesDone(int position, const PageProgress& progress) = 0;
    virtual void FileConverted(int position) = 0;
    // The file failed; the entry's StatusText holds the reason (the system's text for error,
    // or why it was not taken up). Returns whether the run goes on with the next file; false
    // ends it with Fatal.
    virtual bool FileFailed(int position, const QString& reason, int error) = 0;
    // Stop ended the file in hand; its complete images stay.
    virtual void FileStopped(int position) = 0;
    // The walk over the list has ended, at its end or because Stop was pressed.
    virtual void RunEnded() = 0;
    // Every further file would fail (the output folder is gone): the run ends here, without
    // RunEnded.
    virtual void RunAborted(const QString& text) = 0;
    // The renderer failed in a way that ends the run (and, in the window, the program).
    virtual void Fatal(const QString& text) = 0;

    // An error raised inside any pass ended it; nothing else follows.
    virtual void PassError(const QString& message) = 0;
};
