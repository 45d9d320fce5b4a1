#pragma once

#include <QString>

namespace platform {

// Loads a shared library by full path (RTLD_NOW | RTLD_LOCAL). nullptr on failure, with errno
// set (ENOENT when the file is missing, ENOEXEC when it exists but cannot be loaded) and the
// loader's text kept for lastLibraryError().
void* LoadLibrary(const QString& fullPath);

// Address of an exported symbol, or nullptr (lastLibraryError() then says why).
void* GetProcAddress(void* lib, const char* name);

void FreeLibrary(void* lib);

// The loader's text for the calling thread's last failed LoadLibrary/GetProcAddress.
QString lastLibraryError();

} // namespace platform
