#include "engine/renderfiles.h"

// Interim until the package provisioning lands: the package check is not wired yet.
QString TestRenderLibraryPath;

bool RenderFilesPresent() {
    return true;
}

QString RenderLibraryPath() {
    return TestRenderLibraryPath;
}

void StartPackageCheck() {}

void RunPackageCheck() {}
