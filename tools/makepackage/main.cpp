// makepackage <output folder> <folder of the rendering library> <folder of its companion>
//
// Builds the rendering package: an outer ZIP, protected with the traditional PKWARE
// encryption and the package password, holding one entry named after the package's
// extension; that entry is itself a ZIP protected with the inner password, holding the
// rendering library and its companion. Every name and password comes from the program's own
// literals, so the build scripts never hold them in plain form. The package is written under a
// temporary name and renamed, and left alone when it is newer than its inputs and this tool.

#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <sys/stat.h>

namespace {

[[noreturn]] void fail(const QString& what) {
    throw std::runtime_error(what.toStdString());
}

QString zipErrorText(zip_t* za) {
    return QString::fromUtf8(zip_strerror(za));
}

// One encrypted archive at `zipPath` holding `files` (entry name = file name).
void writeArchive(const QString& zipPath, const QStringList& files, const QByteArray& password,
                  zip_int32_t compression) {
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        const QString text = QString::fromUtf8(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        fail(zipPath + ": " + text);
    }
    for (const QString& file : files) {
        const QByteArray name = QFile::encodeName(QFileInfo(file).fileName());
        zip_source_t* src = zip_source_file(za, QFile::encodeName(file).constData(), 0, 0);
        if (!src) {
            const QString text = zipErrorText(za);
            zip_discard(za);
            fail(file + ": " + text);
        }
        const zip_int64_t index = zip_file_add(za, name.constData(), src, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(src);
            const QString text = zipErrorText(za);
            zip_discard(za);
            fail(file + ": " + text);
        }
        const zip_uint64_t i = zip_uint64_t(index);
        const zip_uint32_t mode = (S_IFREG | 0755u) << 16;
        if (zip_set_file_compression(za, i, compression, 0) < 0 ||
            zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_UNIX, mode) < 0 ||
            zip_file_set_encryption(za, i, ZIP_EM_TRAD_PKWARE, password.constData()) < 0) {
            const QString text = zipErrorText(za);
            zip_discard(za);
            fail(file + ": " + text);
        }
    }
    if (zip_close(za) < 0) {
        const QString text = zipErrorText(za);
        zip_discard(za);
        fail(zipPath + ": " + text);
    }
}

bool upToDate(const QString& package, const QStringList& inputs) {
    const QFileInfo out(package);
    if (!out.isFile())
        return false;
    QStringList all = inputs;
    all.append(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    for (const QString& input : all)
        if (QFileInfo(input).lastModified() >= out.lastModified())
            return false;
    return true;
}

void makePackage(const QString& outDir, const QString& libraryDir, const QString& companionDir) {
    const QString packageName = QString::fromUtf8(DecipherName(EncRenderPackageName));
    const QString library =
        QDir(libraryDir).filePath(QString::fromUtf8(DecipherName(EncRenderLibraryName)));
    const QString companion =
        QDir(companionDir).filePath(QString::fromUtf8(DecipherName(EncRenderCompanionName)));
    const QString innerName = QFileInfo(packageName).suffix();
    if (innerName.isEmpty())
        fail(QStringLiteral("the package name has no extension to name its inner archive"));
    for (const QString& input : {library, companion})
        if (!QFileInfo(input).isFile())
            fail(input + QStringLiteral(": no such file"));

    const QString package = QDir(outDir).filePath(packageName);
    if (upToDate(package, {library, companion}))
        return;

    const QList<QByteArray> passwords =
        RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
    QTemporaryDir work(QDir(outDir).filePath(QStringLiteral(".package-XXXXXX")));
    if (!work.isValid())
        fail(outDir + QStringLiteral(": cannot create a work folder"));
    const QString inner = work.filePath(innerName);
    const QString outer = work.filePath(packageName);
    writeArchive(inner, {library, companion}, passwords.at(1), ZIP_CM_DEFLATE);
    // The inner archive is already compressed (and enciphered): store it as it is.
    writeArchive(outer, {inner}, passwords.at(0), ZIP_CM_STORE);
    if (std::rename(QFile::encodeName(outer).constData(), QFile::encodeName(package).constData()) !=
        0)
        fail(package + QStringLiteral(": cannot move the package into place"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: makepackage <output folder> <library folder> <companion folder>\n",
                   stderr);
        return 2;
    }
    try {
        makePackage(QFile::decodeName(argv[1]), QFile::decodeName(argv[2]),
                    QFile::decodeName(argv[3]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "makepackage: %s\n", e.what());
        return 1;
    }
    return 0;
}
