#pragma once

#include <QString>

namespace platform {

// $TMPDIR, else /tmp; always ends with "/".
QString TempFolder();

// $XDG_DATA_HOME, else ~/.local/share (no trailing "/"); empty when neither can be formed.
// There is no folder every user may write on Linux, so this is per user.
QString CommonAppDataFolder();

// The user's documents folder.
QString DocumentsFolder();

// Folder of the running executable, ending with "/". Safe from any thread.
QString ProgramFolder();

// mkdir -p; true when the folder exists afterwards.
bool ForceDirectories(const QString& path);

// Creates one folder level; false (errno set) when it fails or already exists.
bool CreateDir(const QString& path);

// Follow symbolic links, like the path-based checks they stand for.
bool DirectoryExists(const QString& path);
bool FileExists(const QString& path);

// The "has a drive part" test of an output folder: an absolute path.
bool IsAbsolutePathText(const QString& path);

// Hidden means a name starting with "."; there is no attribute to set.
void SetHiddenAttribute(const QString& path);

// Makes `path` usable as a folder we load code from: missing levels are created, the last one
// with mode 0700. An existing last level is accepted only when it is a real folder (no symbolic
// link) owned by the current user that nobody else can write to, inside a parent that other
// users cannot rename it in. Otherwise returns false with an English message in *error.
bool EnsurePrivateFolder(const QString& path, QString* error);

// How many sockets in `folder` were made within the last maxAgeMs; 0 when it cannot be read.
int FreshSockets(const QString& folder, int maxAgeMs);

// $XDG_RUNTIME_DIR, ending with "/", when it names a folder of the current user that nobody
// else can enter (owner only, as the XDG rules demand); otherwise empty.
QString PrivateRuntimeFolder();

// A private folder of the current user for files called `name`, ending with "/": `name` in
// PrivateRuntimeFolder() when there is one, else "<temp folder><name>-<user id>", accepted by
// EnsurePrivateFolder. When another user holds that place (or it is unsafe otherwise), a fresh
// folder "<temp folder><name>-<user id>-XXXXXX" is made instead and *fresh is set: the program
// must not be kept from working by a name someone else took first. Empty, with the reasons in
// *error, when not even that is possible.
QString UserFolder(const QString& name, bool* fresh, QString* error);

} // namespace platform
