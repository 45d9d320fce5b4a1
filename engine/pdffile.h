#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// State tokens of a job entry; every test of State is an exact comparison.
inline const QString StateTrue = QStringLiteral("True");
inline const QString StateProtected = QStringLiteral("Protected");
inline const QString StateFalse = QStringLiteral("False");
inline const QString StateUnprotected = QStringLiteral("Unprotected");

// Entries in these two states are the ones a conversion takes up.
bool IsConvertible(const QString& state);

// One PDF of the job list. A worker writes its results while the GUI thread paints the row, so
// every field access goes through the entry's own mutex; getters return copies.
class TPdffile {
public:
    TPdffile(const QString& filePath, const QString& fileName, const QString& sizeText,
             const QString& pages, const QString& statusText, bool listed);
    TPdffile(const TPdffile&) = delete;
    TPdffile& operator=(const TPdffile&) = delete;

    // Fixed at construction, so no lock is needed to read them.
    QString FilePath() const { return m_filePath; }
    QString FileName() const { return m_fileName; }
    QString SizeText() const { return m_sizeText; }

    QString Pages() const;
    QString StatusText() const;
    QString State() const;
    QString OutputDir() const;
    QString OutputName() const;
    QString Password() const;
    bool Listed() const;
    // The last conversion of this file failed; StatusText then holds why.
    bool Failed() const;

    void setPages(const QString& value);
    void setStatusText(const QString& value);
    void setState(const QString& value);
    void setOutputDir(const QString& value);
    void setOutputName(const QString& value);
    void setPassword(const QString& value);
    void setListed(bool value);
    void setFailed(bool value);

    // The outcome of a conversion, written together: where its images went (empty when none),
    // the Status text, and whether it failed.
    void setConversionResult(const QString& outputDir, const QString& outputName,
                             const QString& statusText, bool failed);

    // The pages the last conversion wrote (for the run's report).
    int PagesWritten() const;
    void setPagesWritten(int pages);

    // Pages, State and StatusText always change together; a painter never sees a mix.
    void setProbeResult(const QString& pages, const QString& state, const QString& statusText);

private:
    const QString m_filePath;
    const QString m_fileName;
    const QString m_sizeText;
    mutable std::mutex m_mutex;
    QString m_pages;
    QString m_statusText;
    QString m_state;
    QString m_outputDir;
    QString m_outputName;
    QString m_password;
    bool m_listed;
    bool m_failed = false;
    int m_pagesWritten = 0;
};

// The ordered job list; it owns its entries. Only the GUI thread appends, removes and clears,
// and it removes or clears only while no pass is at work; a worker may still read while the GUI
// thread appends, so membership is guarded by a mutex. A pass takes count() once at its start and
// reads at(i) below that count; appended entries lie behind it.
class TPdfList {
public:
    TPdfList() = default;
    ~TPdfList();
    TPdfList(const TPdfList&) = delete;
    TPdfList& operator=(const TPdfList&) = delete;

    int count() const;
    // nullptr for a position outside the list. The entry stays owned by the list.
    TPdffile* at(int index) const;
    TPdffile* append(std::unique_ptr<TPdffile> entry);
    // Frees the entry; an invalid position is ignored.
    void removeAt(int index);
    // Frees every entry.
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<TPdffile>> m_entries;
};

// The job list; nullptr until the main window creates it.
extern TPdfList* PdfFileList;

// Number of entries of PdfFileList whose Listed is false (0 without a list).
int CountUnlisted();

// The entry the unlock pass works on; the GUI thread sets it, and its Password, before it starts
// the unlock worker and leaves both alone until that worker has ended.
extern TPdffile* CurrentPdf;
