#include "app/outputfolder.h"

#include "platform/folders.h"

bool CheckOutputFolder(const QString& folder) {
    if (!platform::IsAbsolutePathText(folder))
        return false;
    if (platform::DirectoryExists(folder))
        return true;
    return platform::CreateDir(folder);
}
