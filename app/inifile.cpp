#include "app/inifile.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ini {
namespace {

// One line of the file without its line break, and where it starts and ends in the content.
struct Line {
    QByteArrayView text; // without "\n" and a trailing "\r"
    qsizetype begin = 0;
    qsizetype end = 0; // just past the line break (or the end of the content)
};

QList<Line> SplitLines(const QByteArray& content) {
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype nl = content.indexOf('\n', pos);
        const qsizetype stop = nl < 0 ? content.size() : nl;
        qsizetype textEnd = stop;
        if (textEnd > pos && content.at(textEnd - 1) == '\r')
            --textEnd;
        lines.append({QByteArrayView(content).sliced(pos, textEnd - pos), pos,
                      nl < 0 ? content.size() : nl + 1});
        pos = nl < 0 ? content.size() : nl + 1;
    }
    return lines;
}

bool SameName(QByteArrayView a, const QString& b) {
    return QString::fromUtf8(a).trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// The section named by a header line such as "[System]", if the line is one.
std::optional<QByteArrayView> SectionName(QByteArrayView line) {
    const QByteArrayView t = line.trimmed();
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return t.sliced(1, close - 1);
}

bool IsComment(QByteArrayView line) {
    const QByteArrayView t = line.trimmed();
    return t.startsWith(';') || t.startsWith('#');
}

// The key of an entry line, if the line is one.
std::optional<QByteArrayView> KeyOf(QByteArrayView line) {
    if (IsComment(line) || SectionName(line))
        return std::nullopt;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return line.first(eq);
}

QString Unquote(QString value) {
    value = value.trimmed();
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Quotes a value that would otherwise not read back as written.
QString Quote(const QString& value) {
    if (value != value.trimmed() || Unquote(value) != value)
        return u'"' + value + u'"';
    return value;
}

bool HasLineBreak(const QString& text) {
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

QString ReadValue(const QByteArray& content, const QString& section, const QString& key,
                  bool* found) {
    if (found)
        *found = false;
    bool inSection = false;
    for (const Line& line : SplitLines(content)) {
        if (const auto name = SectionName(line.text)) {
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        const auto lineKey = KeyOf(line.text);
        if (lineKey && SameName(*lineKey, key)) {
            if (found)
                *found = true;
            return Unquote(QString::fromUtf8(line.text.sliced(lineKey->size() + 1)));
        }
    }
    return {};
}

bool SetValue(const QByteArray& content, const QString& section, const QString& key,
              const QString& value, QByteArray* result) {
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty() || trimmedKey.contains(u'=') || trimmedKey.startsWith(u'[') ||
        trimmedKey.startsWith(u';') || trimmedKey.startsWith(u'#') || HasLineBreak(key) ||
        HasLineBreak(value) || HasLineBreak(section) || section.contains(u']'))
        return false;

    const QByteArray eol = content.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray entry = key.toUtf8() + '=' + Quote(value).toUtf8();
    const QList<Line> lines = SplitLines(content);

    bool inSection = false;
    bool sectionSeen = false;
    qsizetype insertAt = -1; // end of the section's last non-blank line
    for (const Line& line : lines) {
        if (const auto name = SectionName(line.text)) {
            if (inSection)
                break; // the section ended without the key
            inSection = SameName(*name, section);
            if (inSection && !sectionSeen) {
                sectionSeen = true;
                insertAt = line.end;
            }
            continue;
        }
        if (!inSection)
            continue;
        const auto lineKey = KeyOf(line.text);
        if (lineKey && SameName(*lineKey, key)) {
            const qsizetype textEnd = line.begin + line.text.size();
            *result = content.first(line.begin) + entry + content.sliced(textEnd);
            return true;
        }
        if (!line.text.trimmed().isEmpty())
            insertAt = line.end;
    }

    QByteArray out = content;
    if (sectionSeen) {
        QByteArray add = entry + eol;
        // The section's last line may be the file's last line without a line break.
        if (insertAt > 0 && out.at(insertAt - 1) != '\n')
            add.prepend(eol);
        out.insert(insertAt, add);
    } else {
        if (!out.isEmpty() && !out.endsWith('\n'))
            out += eol;
        out += '[' + section.toUtf8() + ']' + eol + entry + eol;
    }
    *result = out;
    return true;
}

namespace {

QByteArray Encode(const QByteArray& utf8, Encoding encoding) {
    if (encoding == Encoding::Utf8)
        return utf8;
    if (encoding == Encoding::Utf8Bom)
        return QByteArray("\xEF\xBB\xBF") + utf8;
    QStringEncoder encoder(encoding == Encoding::Utf16LE ? QStringEncoder::Utf16LE
                                                         : QStringEncoder::Utf16BE,
                           QStringEncoder::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(utf8));
}

} // namespace

bool LoadFile(const QString& path, QByteArray* content, Encoding* encoding, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    content->clear();
    *encoding = Encoding::Utf8;
    // A link could lead to anybody's file, which a later save would then replace.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        // No file there (its folder may be missing or be a file): nothing to read.
        if (errno == ENOENT || errno == ENOTDIR)
            return true;
        if (errno == ELOOP)
            return fail(QStringLiteral("it is a symbolic link"));
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("it is not a regular file"));
    const QString tooLarge = QStringLiteral("it is larger than %1 KB").arg(MaxFileSize / 1024);
    if (st.st_size > MaxFileSize)
        return fail(tooLarge);
    // The size may change while we read, so the limit holds for what is read as well.
    QByteArray raw;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        raw.append(buffer, n);
        if (raw.size() > MaxFileSize)
            return fail(tooLarge);
    }

    if (raw.startsWith("\xEF\xBB\xBF")) {
        *encoding = Encoding::Utf8Bom;
        *content = raw.sliced(3);
        return true;
    }
    const bool le = raw.startsWith("\xFF\xFE");
    if (!le && !raw.startsWith("\xFE\xFF")) {
        *content = raw;
        return true;
    }
    QStringDecoder decoder(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    const QString text = decoder.decode(raw.sliced(2));
    // Damaged text would be written back damaged further: better left alone.
    if (decoder.hasError() || raw.size() % 2 != 0)
        return fail(QStringLiteral("its UTF-16 text is damaged"));
    *encoding = le ? Encoding::Utf16LE : Encoding::Utf16BE;
    *content = text.toUtf8();
    return true;
}

QByteArray ReadFile(const QString& path) {
    QByteArray content;
    Encoding encoding;
    return LoadFile(path, &content, &encoding, nullptr) ? content : QByteArray();
}

bool WriteValue(const QString& path, const QString& section, const QString& key,
                const QString& value) {
    // A file that cannot be read must not be replaced by one holding only our key.
    QByteArray content;
    Encoding encoding;
    if (!LoadFile(path, &content, &encoding, nullptr))
        return false;
    QByteArray updated;
    if (!SetValue(content, section, key, value, &updated))
        return false;
    updated = Encode(updated, encoding);
    // Written beside it and renamed over it: the rename replaces whatever stands at the name, a
    // link planted meanwhile included, and never writes through it (QSaveFile would).
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return false;
    if (file.write(updated) != updated.size() || !file.flush() || ::fsync(file.handle()) != 0)
        return false;
    if (::rename(QFile::encodeName(file.fileName()).constData(),
                 QFile::encodeName(path).constData()) != 0)
        return false;
    file.setAutoRemove(false);
    return true;
}

} // namespace ini
