// Package provisioning: presence check, extraction (with crafted archives and with the package
// the build made), deletion at shutdown.

#include "engine/provisioning/provisioning.h"

#include "engine/renderapi.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/messages.h"
#include "platform/winmsg.h"
#include "tests/common/scopedenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <utility>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

QString name(const char* enciphered) {
    return QString::fromUtf8(DecipherName(enciphered));
}

// The library and its companion, in the order a folder listing by name gives.
QStringList renderFiles() {
    QStringList names{name(EncRenderCompanionName), name(EncRenderLibraryName)};
    names.sort();
    return names;
}

// Counts the window messages posted to the main window.
class Recorder : public QObject {
public:
    std::vector<int> messages;
    bool event(QEvent* e) override {
        if (e->type() >= QEvent::User) {
            messages.push_back(int(e->type()));
            return true;
        }
        return QObject::event(e);
    }
    std::vector<int> take() {
        QCoreApplication::sendPostedEvents(this);
        return std::exchange(messages, {});
    }
};

struct Entry {
    QByteArray name;
    QByteArray data;
    bool symlink = false;
    zip_uint32_t permissions = 0755;
};

// A ZIP written with libzip; every entry encrypted with the traditional PKWARE scheme when a
// password is given.
void writeZip(const QString& path, const std::vector<Entry>& entries, const QByteArray& password) {
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    for (const Entry& e : entries) {
        // libzip reads the buffer at zip_close, so it keeps its own copy.
        void* copy = malloc(size_t(std::max<qsizetype>(e.data.size(), 1)));
        memcpy(copy, e.data.constData(), size_t(e.data.size()));
        zip_source_t* src = zip_source_buffer(za, copy, zip_uint64_t(e.data.size()), 1);
        ASSERT_NE(src, nullptr);
        const zip_int64_t i = zip_file_add(za, e.name.constData(), src, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(i, 0) << zip_strerror(za);
        const zip_uint32_t mode = e.symlink ? (S_IFLNK | 0777u) : (S_IFREG | e.permissions);
        ASSERT_EQ(
            zip_file_set_external_attributes(za, zip_uint64_t(i), 0, ZIP_OPSYS_UNIX, mode << 16),
            0);
        if (!password.isEmpty()) {
            ASSERT_EQ(zip_file_set_encryption(za, zip_uint64_t(i), ZIP_EM_TRAD_PKWARE,
                                              password.constData()),
                      0);
        }
    }
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

// A one-page PDF with a filled rectangle, cross-reference offsets computed.
QByteArray smallPdf() {
    const QByteArray content = "0 0 1 rg 20 20 160 60 re f\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        pdf += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    pdf +=
        "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

class Provisioning : public ::testing::Test {
protected:
    QTemporaryDir work;  // holds crafted packages
    QTemporaryDir outer; // parent of the library folder, to see nothing escapes
    QString libDir;
    Recorder recorder;

    void SetUp() override {
        ASSERT_TRUE(work.isValid() && outer.isValid());
        libDir = outer.filePath(QStringLiteral("lib")) + u'/';
        ASSERT_TRUE(QDir().mkpath(libDir));
        LibraryDir = libDir;
        platform::SetMainWindow(&recorder);
    }
    void TearDown() override {
        platform::SetMainWindow(nullptr);
        LibraryDir.clear();
        RenderPackagePath.set({});
    }
    QStringList libDirFiles() const {
        return QDir(libDir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    // A two-level package like the shipped one, made with the program's own names and passwords.
    QString craftPackage(const QByteArray& library, const QByteArray& companion) {
        const QList<QByteArray> pw =
            RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
        const QString package = work.filePath(name(EncRenderPackageName));
        const QString inner = work.filePath(QFileInfo(package).suffix());
        writeZip(inner,
                 {{name(EncRenderLibraryName).toUtf8(), library},
                  {name(EncRenderCompanionName).toUtf8(), companion}},
                 pw[1]);
        writeZip(package, {{QFileInfo(package).suffix().toUtf8(), readFile(inner)}}, pw[0]);
        QFile::remove(inner);
        return package;
    }
};

TEST_F(Provisioning, PackageCheckPostsOnlyWhenAFileIsMissing) {
    struct Case {
        bool library, companion, posts;
    };
    const Case cases[] = {
        {true, true, false}, {true, false, true}, {false, true, true}, {false, false, true}};
    for (const Case& c : cases) {
        const QString lib = libDir + name(EncRenderLibraryName);
        const QString comp = libDir + name(EncRenderCompanionName);
        QFile::remove(lib);
        QFile::remove(comp);
        if (c.library)
            writeFile(lib, "x");
        if (c.companion)
            writeFile(comp, "x");
        RenderPackagePath.set({});
        EXPECT_EQ(PackageCheck(), 0);
        const std::vector<int> expected =
            c.posts ? std::vector<int>{WM_CREATETEMPLIB} : std::vector<int>{};
        EXPECT_EQ(recorder.take(), expected) << c.library << c.companion;
        EXPECT_EQ(RenderLibraryName.get(), name(EncRenderLibraryName));
        EXPECT_EQ(RenderCompanionName.get(), name(EncRenderCompanionName));
        EXPECT_EQ(QString::fromUtf8(RenderPackagePath.get()),
                  c.posts ? platform::ProgramFolder() + name(EncRenderPackageName) : QString());
    }
}

TEST_F(Provisioning, PackageCheckThreadAsksForExtraction) {
    PackageCheckThread();
    WaitForPackageChecks();
    EXPECT_EQ(recorder.take(), std::vector<int>{WM_CREATETEMPLIB});
}

TEST_F(Provisioning, ExtractArchiveCases) {
    const QByteArray pw = "secret";
    // Incompressible, so the stored bytes are as long as the data.
    QByteArray big(300000, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char& b : big) {
        seed = seed * 1103515245u + 12345u;
        b = char(seed >> 24);
    }
    struct Case {
        const char* what;
        std::function<void(const QString&)> make;
        QByteArray password;
        const char* error; // nullptr: succeeds
        QStringList files; // in the library folder afterwards
        qint64 limit = MaxPackageEntrySize;
        qint64 total = MaxPackageTotalSize;
    };
    const QString ok1 = QStringLiteral("one.so"), ok2 = QStringLiteral("two.so");
    const auto good = [&](const QString& p) {
        writeZip(p, {{"one.so", "first"}, {"two.so", big}}, pw);
    };
    const std::vector<Case> cases = {
        {"both files", good, pw, nullptr, {ok1, ok2}},
        {"wrong password", good, "not it", "Wrong password", {}},
        {"no password", good, "", "Wrong password", {}},
        {"missing package", [](const QString&) {}, pw, "Package not found", {}},
        {"not an archive",
         [&](const QString& p) { writeFile(p, QByteArray(4000, '\x42')); },
         pw,
         "Damaged package",
         {}},
        {"truncated",
         [&](const QString& p) {
             good(p);
             QByteArray bytes = readFile(p);
             writeFile(p, bytes.left(bytes.size() / 2));
         },
         pw,
         "Damaged package",
         {}},
        {"garbled data",
         [&](const QString& p) {
             good(p);
             // Spoil the middle of the second entry's stored bytes; the directory stays valid.
             QByteArray bytes = readFile(p);
             const qsizetype at = bytes.indexOf("two.so") + 200;
             for (qsizetype i = at; i < at + 64; ++i)
                 bytes[i] = char(bytes[i] ^ 0x5A);
             writeFile(p, bytes);
         },
         pw,
         "damaged package",
         {}},
        {"not encrypted",
         [&](const QString& p) {
             writeZip(p, {{"one.so", "first"}}, {});
         },
         pw,
         "not encrypted",
         {}},
        {"entry over the size limit", good, pw, "larger than 1000 bytes", {}, 1000},
        {"entries over the total limit",
         good,
         pw,
         "add up to more than",
         {},
         MaxPackageEntrySize,
         qint64(big.size())},
        {"parent escape",
         [&](const QString& p) {
             writeZip(p, {{"one.so", "first"}, {"../evil.so", "x"}}, pw);
         },
         pw,
         "Refused entry",
         {}},
        {"nested escape",
         [&](const QString& p) {
             writeZip(p, {{"sub/../../evil.so", "x"}}, pw);
         },
         pw,
         "Refused entry",
         {}},
        {"absolute",
         [&](const QString& p) {
             writeZip(p, {{(outer.filePath(QStringLiteral("evil.so"))).toUtf8(), "x"}}, pw);
         },
         pw,
         "Refused entry",
         {}},
        {"symbolic link",
         [&](const QString& p) {
             writeZip(p, {{"one.so", "/etc/passwd", true}}, pw);
         },
         pw,
         "Refused entry",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& f : libDirFiles())
            QFile::remove(libDir + f);
        const QString zipPath = work.filePath(QStringLiteral("case.zip"));
        QFile::remove(zipPath);
        c.make(zipPath);
        if (c.error) {
            try {
                ExtractArchive(zipPath, c.password, libDir, c.limit, c.total);
                ADD_FAILURE() << "no error";
            } catch (const platform::SystemError& e) {
                EXPECT_TRUE(e.text().contains(QLatin1String(c.error))) << e.what();
            }
        } else {
            EXPECT_NO_THROW(ExtractArchive(zipPath, c.password, libDir, c.limit, c.total));
            EXPECT_EQ(readFile(libDir + ok1), "first");
            EXPECT_EQ(readFile(libDir + ok2), big);
        }
        // No temporary or truncated leftovers, nothing outside the folder.
        EXPECT_EQ(libDirFiles(), c.files);
        EXPECT_FALSE(QFileInfo::exists(outer.filePath(QStringLiteral("evil.so"))));
        EXPECT_EQ(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("lib")});
    }
}

// Links planted at the extracted names are replaced; what they point to stays untouched.
TEST_F(Provisioning, ExtractionReplacesPlantedLinks) {
    const QString victim = outer.filePath(QStringLiteral("victim"));
    const QString created = outer.filePath(QStringLiteral("created"));
    writeFile(victim, "victim");
    ASSERT_TRUE(QFile::link(victim, libDir + "one.so"));
    ASSERT_TRUE(QFile::link(created, libDir + "two.so"));
    const QString zipPath = work.filePath(QStringLiteral("links.zip"));
    writeZip(zipPath, {{"one.so", "first"}, {"two.so", "second"}}, "pw");
    ASSERT_NO_THROW(ExtractArchive(zipPath, "pw", libDir));
    EXPECT_EQ(readFile(victim), "victim");
    EXPECT_FALSE(QFileInfo::exists(created));
    for (const char* file : {"one.so", "two.so"}) {
        const QFileInfo info(libDir + file);
        EXPECT_TRUE(info.isFile() && !info.isSymLink()) << file;
    }
    EXPECT_EQ(readFile(libDir + "two.so"), "second");
    EXPECT_EQ(libDirFiles(), QStringList({"one.so", "two.so"}));
}

using FolderEnvironment = ScopedFolderEnvironment;

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode;
}

// Another local user who takes the working folder's name first must not keep this user from
// converting: a fresh private folder is used then, and it goes at shutdown.
TEST_F(Provisioning, LibraryDirIsTheUsersOwn) {
    const QString folderName = name(EncLibraryDir).remove(u'/');
    const QString uid = QString::number(::geteuid());
    struct Case {
        const char* what;
        bool runtime;      // a private XDG_RUNTIME_DIR is set
        const char* plant; // what stands at the usual place beforehand
        bool fresh;        // a fresh folder is expected instead
    };
    const Case cases[] = {
        {"runtime folder", true, "", false},
        {"temporary folder", false, "", false},
        {"own folder left from before", false, "own", false},
        {"another user's folder", false, "foreign", true},
        {"another user's file", false, "foreign file", true},
        {"symbolic link", false, "link", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool needsRoot = QByteArray(c.plant).startsWith("foreign");
        if (needsRoot && ::geteuid() != 0)
            continue; // giving a folder to another user needs root
        QTemporaryDir runtime, tmp;
        const FolderEnvironment environment(c.runtime ? runtime.path().toUtf8() : QByteArray(),
                                            tmp.path().toUtf8());
        const QString usual =
            c.runtime ? runtime.filePath(folderName) : tmp.filePath(folderName + u'-' + uid);
        const QByteArray native = QFile::encodeName(usual);
        const QString plant = QString::fromLatin1(c.plant);
        if (plant == "own" || plant == "foreign") {
            ASSERT_EQ(::mkdir(native.constData(), 0700), 0);
        }
        if (plant == "foreign file")
            writeFile(usual, "x");
        if (plant.startsWith("foreign")) {
            ASSERT_EQ(::chown(native.constData(), 65534, 65534), 0);
        }
        if (plant == "link") {
            ASSERT_TRUE(QFile::link(outer.path(), usual));
        }

        QString error;
        ASSERT_TRUE(SetUpLibraryDir(&error)) << error.toStdString();
        if (c.fresh) {
            EXPECT_TRUE(LibraryDir.startsWith(usual + u'-')) << LibraryDir.toStdString();
        } else {
            EXPECT_EQ(LibraryDir, usual + u'/');
        }
        EXPECT_EQ(modeOf(LibraryDir.chopped(1)), mode_t(S_IFDIR | 0700));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(LibraryDir).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, ::geteuid());

        // The folder taken works for an extraction, and a fresh one is gone after shutdown.
        const QString zipPath = work.filePath(QStringLiteral("lib.zip"));
        writeZip(zipPath, {{"one.so", "first"}}, "pw");
        ASSERT_NO_THROW(ExtractArchive(zipPath, "pw", LibraryDir));
        EXPECT_EQ(readFile(LibraryDir + "one.so"), "first");
        QFile::remove(LibraryDir + "one.so");
        const QString used = LibraryDir;
        DeleteRenderFiles();
        EXPECT_EQ(QFileInfo::exists(used), !c.fresh);
        EXPECT_EQ(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("lib")});
    }
}

TEST_F(Provisioning, CreateTempLibFilesUnpacksBothLevels) {
    const QString package = craftPackage("library bytes", "companion bytes");
    RenderPackagePath.set(QFile::encodeName(package));
    const QString lib = libDir + name(EncRenderLibraryName);
    writeFile(lib, "stale"); // a leftover is replaced
    ASSERT_NO_THROW(CreateTempLibFiles());
    EXPECT_EQ(readFile(lib), "library bytes");
    EXPECT_EQ(readFile(libDir + name(EncRenderCompanionName)), "companion bytes");
    EXPECT_EQ(libDirFiles(), renderFiles());
    EXPECT_TRUE(QFileInfo(lib).permissions() & QFileDevice::ExeOwner);
    EXPECT_FALSE(QFileInfo(lib).permissions() &
                 (QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

TEST_F(Provisioning, ExtractionKeepsTheRunBitOnlyWhereTheArchiveSetsIt) {
    const QString zipPath = work.filePath(QStringLiteral("modes.zip"));
    writeZip(zipPath, {{"program", "x", false, 0755}, {"data", "y", false, 0644}}, "pw");
    ASSERT_NO_THROW(ExtractArchive(zipPath, "pw", libDir));
    EXPECT_TRUE(QFileInfo(libDir + QStringLiteral("program")).permissions() &
                QFileDevice::ExeOwner);
    EXPECT_FALSE(QFileInfo(libDir + QStringLiteral("data")).permissions() &
                 (QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther));
}

TEST_F(Provisioning, CreateTempLibFilesWithoutLibraryDir) {
    LibraryDir.clear();
    EXPECT_THROW(CreateTempLibFiles(), platform::SystemError);
}

TEST_F(Provisioning, DamagedInnerArchiveIsStillDeleted) {
    const QList<QByteArray> pw = RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
    const QString package = work.filePath(name(EncRenderPackageName));
    const QString innerName = QFileInfo(package).suffix();
    writeZip(package, {{innerName.toUtf8(), QByteArray(5000, '\x17')}}, pw[0]);
    RenderPackagePath.set(QFile::encodeName(package));
    EXPECT_THROW(CreateTempLibFiles(), platform::SystemError);
    EXPECT_EQ(libDirFiles(), QStringList());
}

TEST_F(Provisioning, DeleteRenderFiles) {
    struct Case {
        bool library, companion, namesKnown;
    };
    const Case cases[] = {
        {true, true, true}, {true, false, true}, {false, false, true}, {true, true, false}};
    for (const Case& c : cases) {
        const QString lib = libDir + name(EncRenderLibraryName);
        const QString comp = libDir + name(EncRenderCompanionName);
        writeFile(libDir + QStringLiteral("other.txt"), "stays");
        if (c.library)
            writeFile(lib, "x");
        if (c.companion)
            writeFile(comp, "x");
        RenderLibraryName.set(c.namesKnown ? name(EncRenderLibraryName) : QString());
        RenderCompanionName.set(c.namesKnown ? name(EncRenderCompanionName) : QString());
        DeleteRenderFiles();
        EXPECT_EQ(libDirFiles(), QStringList{QStringLiteral("other.txt")});
    }
}

// The package the build made, unpacked with the program's own literals, renders a page.
TEST_F(Provisioning, ShippedPackageRendersAPage) {
#if !PIXOLUND_HAVE_RENDER
    GTEST_SKIP() << "the rendering library is not part of this build";
#else
    const QString package = QStringLiteral(PIXOLUND_BIN_DIR "/") + name(EncRenderPackageName);
    ASSERT_TRUE(QFileInfo(package).isFile()) << package.toStdString();
    RenderPackagePath.set(QFile::encodeName(package));
    ASSERT_NO_THROW(CreateTempLibFiles());
    EXPECT_EQ(libDirFiles(), renderFiles());
    // The companion is a program the library starts: it must come out executable.
    EXPECT_TRUE(QFileInfo(libDir + name(EncRenderCompanionName)).permissions() &
                QFileDevice::ExeOwner);

    const QString pdf = work.filePath(QStringLiteral("page.pdf"));
    writeFile(pdf, smallPdf());
    const QString outDir = work.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(outDir));
    const QByteArray target = QFile::encodeName(outDir + QStringLiteral("/page.png"));

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(libDir));
    void* lib = platform::LoadLibrary(libDir + name(EncRenderLibraryName));
    ASSERT_NE(lib, nullptr) << platform::lastLibraryError().toStdString();
    const QByteArray entryName = RevealHiddenTextAnsi(HidRasterizeName);
    auto rasterize =
        reinterpret_cast<RasterizePdfProc>(platform::GetProcAddress(lib, entryName.constData()));
    ASSERT_NE(rasterize, nullptr);
    const int rc = rasterize(QFile::encodeName(pdf).constData(), target.constData(), nullptr, 0, 72,
                             72, 24, 1, 75, 0, 0, 1, 1);
    platform::FreeLibrary(lib);
    QDir::setCurrent(previous);
    EXPECT_EQ(rc, 0);
    const QStringList images = QDir(outDir).entryList({QStringLiteral("page*.png")}, QDir::Files);
    ASSERT_EQ(images.size(), 1) << images.join(u' ').toStdString();
    EXPECT_TRUE(readFile(outDir + u'/' + images[0]).startsWith("\x89PNG"));
    DeleteRenderFiles();
    EXPECT_EQ(libDirFiles(), QStringList());
#endif
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
