#pragma once

#include <QByteArray>
#include <QString>

// A small editor for profile (INI) files. A write changes exactly one line (or adds one, and the
// section header when missing); every other byte of the file stays as it was. Section and key
// names compare without regard to case, like the profile functions of Windows.
namespace ini {

// The value of `key` in `section`, or an empty text; *found tells whether the key exists.
// Blanks around the value are dropped and one pair of enclosing quotes is removed, so a value
// with outer blanks survives a round trip when it was written quoted (SetValue does that).
QString ReadValue(const QByteArray& content, const QString& section, const QString& key,
                  bool* found = nullptr);

// `content` with `key` = `value` in `section`: the first line of the key in that section is
// replaced, otherwise the line is added after the section's last entry, and the section is
// appended when missing. Returns false (and leaves *result alone) for a key or value that a
// line cannot hold: a line break anywhere, or a key that is empty, holds "=" or starts with "["
// or ";".
bool SetValue(const QByteArray& content, const QString& section, const QString& key,
              const QString& value, QByteArray* result);

// The largest file LoadFile reads.
inline constexpr qint64 MaxFileSize = 1024 * 1024;

// How a file's text was stored; a write keeps it.
enum class Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE };

// The file's text as UTF-8 without a byte order mark (UTF-8 with one and UTF-16 with one are
// converted), and how it was stored. A missing file is empty UTF-8. Only a regular file (a
// link to one is followed) of at most MaxFileSize is read, and the open never waits, so a FIFO
// or a device cannot hold up or flood the caller. Otherwise false with the reason in *error.
bool LoadFile(const QString& path, QByteArray* content, Encoding* encoding, QString* error);

// Loads the file like LoadFile, applies SetValue and replaces the file atomically in the
// encoding it was found in: a temporary file in the same folder is written, flushed and renamed
// over it, so a crash or a full disk never leaves a truncated file. False when any step fails.
bool WriteValue(const QString& path, const QString& section, const QString& key,
                const QString& value);

// LoadFile's content, or an empty array when the file is missing or refused.
QByteArray ReadFile(const QString& path);

} // namespace ini
