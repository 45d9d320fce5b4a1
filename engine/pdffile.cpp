#include "engine/pdffile.h"

#include "engine/procthread.h"

TPdfList* PdfFileList = nullptr;
TPdffile* CurrentPdf = nullptr;

bool IsConvertible(const QString& state) {
    return state == StateTrue || state == StateUnprotected;
}

TPdffile::TPdffile(const QString& filePath, const QString& fileName, const QString& sizeText,
                   const QString& pages, const QString& statusText, bool listed)
    : m_filePath(filePath), m_fileName(fileName), m_sizeText(sizeText), m_pages(pages),
      m_statusText(statusText), m_listed(listed) {}

QString TPdffile::Pages() const {
    std::lock_guard lock(m_mutex);
    return m_pages;
}

QString TPdffile::StatusText() const {
    std::lock_guard lock(m_mutex);
    return m_statusText;
}

QString TPdffile::State() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

QString TPdffile::OutputDir() const {
    std::lock_guard lock(m_mutex);
    return m_outputDir;
}

QString TPdffile::OutputName() const {
    std::lock_guard lock(m_mutex);
    return m_outputName;
}

QString TPdffile::Password() const {
    std::lock_guard lock(m_mutex);
    return m_password;
}

bool TPdffile::Listed() const {
    std::lock_guard lock(m_mutex);
    return m_listed;
}

bool TPdffile::Failed() const {
    std::lock_guard lock(m_mutex);
    return m_failed;
}

void TPdffile::setFailed(bool value) {
    std::lock_guard lock(m_mutex);
    m_failed = value;
}

void TPdffile::setConversionResult(const QString& outputDir, const QString& outputName,
                                   const QString& statusText, bool failed) {
    std::lock_guard lock(m_mutex);
    m_outputDir = outputDir;
    m_outputName = outputName;
    m_statusText = statusText;
    m_failed = failed;
}

void TPdffile::setPages(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_pages = value;
}

void TPdffile::setStatusText(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_statusText = value;
}

void TPdffile::setState(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_state = value;
}

void TPdffile::setOutputDir(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_outputDir = value;
}

void TPdffile::setOutputName(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_outputName = value;
}

void TPdffile::setPassword(const QString& value) {
    std::lock_guard lock(m_mutex);
    m_password = value;
}

void TPdffile::setListed(bool value) {
    std::lock_guard lock(m_mutex);
    m_listed = value;
}

void TPdffile::setProbeResult(const QString& pages, const QString& state,
                              const QString& statusText) {
    std::lock_guard lock(m_mutex);
    m_pages = pages;
    m_state = state;
    m_statusText = statusText;
}

namespace {

// Removing an entry that a pass may be reading would leave the pass with a dangling pointer.
void AssertNoPassAtWork() {
    Q_ASSERT(!TProcThread::AnyAtWork());
}

} // namespace

TPdfList::~TPdfList() {
    clear();
}

int TPdfList::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_entries.size());
}

TPdffile* TPdfList::at(int index) const {
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_entries.size()))
        return nullptr;
    return m_entries[static_cast<size_t>(index)].get();
}

TPdffile* TPdfList::append(std::unique_ptr<TPdffile> entry) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(std::move(entry));
    return m_entries.back().get();
}

void TPdfList::removeAt(int index) {
    AssertNoPassAtWork();
    std::unique_ptr<TPdffile> doomed;
    {
        std::lock_guard lock(m_mutex);
        if (index < 0 || index >= static_cast<int>(m_entries.size()))
            return;
        doomed = std::move(m_entries[static_cast<size_t>(index)]);
        m_entries.erase(m_entries.begin() + index);
    }
}

void TPdfList::clear() {
    AssertNoPassAtWork();
    std::vector<std::unique_ptr<TPdffile>> doomed;
    {
        std::lock_guard lock(m_mutex);
        doomed.swap(m_entries);
    }
}

int CountUnlisted() {
    TPdfList* list = PdfFileList;
    if (!list)
        return 0;
    const int n = list->count();
    int unlisted = 0;
    for (int i = 0; i < n; ++i) {
        const TPdffile* entry = list->at(i);
        if (entry && !entry->Listed())
            ++unlisted;
    }
    return unlisted;
}

int TPdffile::PagesWritten() const {
    std::lock_guard lock(m_mutex);
    return m_pagesWritten;
}

void TPdffile::setPagesWritten(int pages) {
    std::lock_guard lock(m_mutex);
    m_pagesWritten = pages;
}
