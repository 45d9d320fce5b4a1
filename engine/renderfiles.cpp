#include "engine/renderfiles.h"

#include "engine/provisioning/provisioning.h"
#include "platform/folders.h"

bool RenderFilesPresent() {
    const QString library = RenderLibraryName.get();
    const QString companion = RenderCompanionName.get();
    if (LibraryDir.isEmpty() || library.isEmpty() || companion.isEmpty())
        return false;
    return platform::FileExists(LibraryDir + library) &&
           platform::FileExists(LibraryDir + companion);
}

QString RenderLibraryPath() {
    const QString library = RenderLibraryName.get();
    // Never a bare name: the loader would then search the system's folders.
    if (LibraryDir.isEmpty() || library.isEmpty())
        return QString();
    return LibraryDir + library;
}

void StartPackageCheck() {
    PackageCheckThread();
}

void RunPackageCheck() {
    PackageCheck();
}

int ExtractionsEnded() {
    return ExtractionCount();
}
