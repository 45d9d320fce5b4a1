#include "platform/dynlib.h"

#include "platform/text.h"

#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>

namespace platform {

namespace {

// dlerror() is cleared by the next call, so keep its text for the caller.
thread_local QString lastError;

void recordLoaderError() {
    const char* text = ::dlerror();
    lastError = text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

void* LoadLibrary(const QString& fullPath) {
    const QByteArray native = toAnsi(fullPath);
    void* lib = ::dlopen(native.constData(), RTLD_NOW | RTLD_LOCAL);
    if (lib) {
        lastError.clear();
        return lib;
    }
    recordLoaderError();
    struct stat st;
    errno = ::stat(native.constData(), &st) != 0 ? errno : ENOEXEC;
    return nullptr;
}

void* GetProcAddress(void* lib, const char* name) {
    if (!lib || !name) {
        lastError = QStringLiteral("No library or no symbol name");
        errno = EINVAL;
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(lib, name);
    if (!address) {
        recordLoaderError();
        errno = EINVAL;
    }
    return address;
}

void FreeLibrary(void* lib) {
    if (lib)
        ::dlclose(lib);
}

QString lastLibraryError() {
    return lastError;
}

} // namespace platform
