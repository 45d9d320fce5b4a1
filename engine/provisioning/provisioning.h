#pragma once

// Provisioning of the rendering package: the presence check of the rendering library and its
// companion in LibraryDir, the extraction of the package on the GUI thread, and their deletion
// at shutdown.

#include "platform/shared.h"

#include <QByteArray>
#include <QString>

using SharedText = platform::Shared<QString>;
using SharedBytes = platform::Shared<QByteArray>;

// The renderer's private working folder, ending with "/"; empty when it is not available.
// Set once on the GUI thread at start-up (SetUpLibraryDir) before any worker runs.
extern QString LibraryDir;

// File names of the rendering library and its companion: empty until PackageCheck ran, then
// the deciphered names. Safe to read from any thread.
extern SharedText RenderLibraryName, RenderCompanionName;

// The package's full path (8-bit text), set by PackageCheck whenever it asks for an extraction.
extern SharedBytes RenderPackagePath;

// The two archive passwords; revealed on the GUI thread when the main window is first shown
// (CreateTempLibFiles reveals them itself when that has not happened yet).
extern QByteArray PackagePassword, InnerPackagePassword;

// LibraryDir = the user's private folder named by the enciphered relative path (see
// platform::UserFolder: in the runtime folder, else in the temporary folder with the user id;
// a fresh private folder when another user took that place). Only when no private folder can be
// had at all does LibraryDir stay empty, with the reason in *error. GUI thread, at start-up.
bool SetUpLibraryDir(QString* error);

// Deciphers the three package names, stores the two file names, and when either file is
// missing from LibraryDir sets RenderPackagePath and posts WM_CREATETEMPLIB. Returns 0.
int PackageCheck();

// Runs PackageCheck on a thread of its own and returns at once; a failure shows
// "Create library error:" followed by the system's text for the thread's last error.
void PackageCheckThread();

// GUI thread, before the program's globals go away: waits for package checks still running,
// servicing their message boxes meanwhile.
void WaitForPackageChecks();

// The largest entry ExtractArchive writes.
inline constexpr qint64 MaxPackageEntrySize = qint64(512) << 20;
// The most all entries of one archive may hold together: the renderer needs about 80 MB, and a
// package that unpacks into gigabytes would fill the user's runtime folder.
inline constexpr qint64 MaxPackageTotalSize = qint64(256) << 20;

// Extracts every entry of the ZIP archive at zipPath, deciphered with password (traditional
// PKWARE encryption), into baseDir. Each entry is written under a fresh temporary name in its
// folder and renamed over its final name when complete: no truncated file ever carries a final
// name, and a link standing at that name is replaced, never written through. Refused: entries
// that would land outside baseDir (absolute names, "..", symbolic links), files that are not
// encrypted, entries larger than maxEntrySize, and archives whose entries add up to more than
// maxTotalSize. On any failure the files of this run are
// removed again. Throws platform::SystemError with a clear message: archive missing, wrong
// password, damaged archive, refused entry, write failure.
void ExtractArchive(const QString& zipPath, const QByteArray& password, const QString& baseDir,
                    qint64 maxEntrySize = MaxPackageEntrySize,
                    qint64 maxTotalSize = MaxPackageTotalSize);

// Extracts the package at packagePath into folder with outerPassword, then the inner archive
// it holds (named after the package's extension without its dot) with innerPassword, and
// deletes the inner archive whatever happens. Any thread. Throws like ExtractArchive.
void UnpackPackage(const QString& packagePath, const QString& folder,
                   const QByteArray& outerPassword, const QByteArray& innerPassword);

// The body of the main window's WM_CREATETEMPLIB handler: UnpackPackage into LibraryDir with
// the revealed passwords. Throws like ExtractArchive.
void CreateTempLibFiles();

// How many runs of CreateTempLibFiles have ended, successfully or with an error. Any thread.
int ExtractionCount();

// Shutdown: deletes the rendering library and its companion from LibraryDir, each only if it
// is there, and a folder made for this run alone; failures are ignored.
void DeleteRenderFiles();
