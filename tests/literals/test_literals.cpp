// Enciphered names, hidden texts, and that the built binaries hold only enciphered forms.

#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// The maintainer's table of plain values (tools/encipher's input): identifier -> value.
std::map<std::string, QByteArray> plainTable() {
    QFile file(QStringLiteral(LITERAL_TABLE));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << LITERAL_TABLE;
    std::map<std::string, QByteArray> table;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        line.chop(line.endsWith('\n') ? 1 : 0);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype first = line.indexOf(' ');
        const qsizetype second = line.indexOf(' ', first + 1);
        table[line.left(first).toStdString()] = line.mid(second + 1);
    }
    return table;
}

struct NameLiteral {
    const char* id;
    const char* literal;
    qsizetype plainLength; // -1: not fixed
};

const NameLiteral nameLiterals[] = {
    {"EncSettingsPath", EncSettingsPath, 36},
    {"EncLibraryDir", EncLibraryDir, 13},
    {"EncBaseCipherId", EncBaseCipherId, 14},
    {"EncBasePassword", EncBasePassword, 10},
    {"EncRenderPackageName", EncRenderPackageName, -1},
    {"EncRenderLibraryName", EncRenderLibraryName, -1},
    {"EncRenderCompanionName", EncRenderCompanionName, -1},
};

struct HiddenLiteral {
    const char* id;
    const char* literal;
};

const HiddenLiteral hiddenLiterals[] = {
    {"HidPackagePassword", HidPackagePassword},
    {"HidInnerPackagePassword", HidInnerPackagePassword},
    {"HidRasterizeName", HidRasterizeName},
    {"HidCancelName", HidCancelName},
    {"HidProgressName", HidProgressName},
    {"HidLastCallName", HidLastCallName},
    {"HidHelpFile", HidHelpFile},
    {"HidSupportPage", HidSupportPage},
    {"HidProductPage", HidProductPage},
    {"HidHomePage", HidHomePage},
    {"HidProductName", HidProductName},
    {"HidVersionLine", HidVersionLine},
    {"HidNoticeLine", HidNoticeLine},
    {"HidSupportEmail", HidSupportEmail},
};

TEST(DecipherName, Edges) {
    // 8 bytes of zeros then one more: the plain text is the key itself, wrapping at the 9th.
    const QByteArray nine = DecipherName("000000000000000000");
    ASSERT_EQ(nine.size(), 9);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(uchar(nine[k]), NameKey[size_t(k % 8)]) << k;

    struct Case {
        QByteArray hex;
        qsizetype length;
    };
    const Case cases[] = {{"", 0}, {"0", 0}, {"12345", 2}, {"ABCDEF", 3}, {"abcdef", 3}};
    for (const Case& c : cases)
        EXPECT_EQ(DecipherName(c.hex).size(), c.length) << c.hex.constData();
    // The odd last digit is ignored, whatever it is.
    EXPECT_EQ(DecipherName("12345"), DecipherName("1234"));
    EXPECT_EQ(DecipherName("abcdef"), DecipherName("ABCDEF"));
    EXPECT_THROW(DecipherName("1G"), std::invalid_argument);
}

TEST(DecipherName, RoundTripOfAllByteValues) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QByteArray hex = EncipherName(all);
    EXPECT_EQ(hex, hex.toUpper());
    EXPECT_EQ(DecipherName(hex), all);
}

TEST(Literals, EveryNameDeciphersToItsPlainValue) {
    const auto table = plainTable();
    for (const NameLiteral& n : nameLiterals) {
        const QByteArray hex(n.literal);
        EXPECT_EQ(hex, hex.toUpper()) << n.id;
        const QByteArray plain = DecipherName(hex);
        EXPECT_EQ(plain, table.at(n.id)) << n.id;
        if (n.plainLength >= 0) {
            EXPECT_EQ(plain.size(), n.plainLength) << n.id;
        }
    }
    EXPECT_TRUE(DecipherName(EncSettingsPath).startsWith('/'));
    EXPECT_TRUE(DecipherName(EncLibraryDir).endsWith('/'));
}

TEST(Literals, BaseKeys) {
    BuildBaseKeys();
    const auto table = plainTable();
    EXPECT_EQ(BaseCipherId, QString::fromUtf8(table.at("EncBaseCipherId")));
    EXPECT_EQ(BasePassword, QString::fromUtf8(table.at("EncBasePassword")));
}

TEST(Literals, EveryHiddenTextRevealsItsPlainValue) {
    const auto table = plainTable();
    for (const HiddenLiteral& h : hiddenLiterals) {
        EXPECT_EQ(RevealHiddenTextAnsi(h.literal), table.at(h.id)) << h.id;
        EXPECT_EQ(RevealHiddenText(h.literal), QString::fromUtf8(table.at(h.id))) << h.id;
    }
}

TEST(Literals, SameResultWhateverTheCodecHeldInBetween) {
    const QByteArray first = RevealHiddenTextAnsi(HidPackagePassword);
    struct Setting {
        const char* id;
        const char* password;
    };
    const Setting settings[] = {{"native.3DES.2", "x"},
                                {"native.AES-128", ""},
                                {"native.Camellia-256", "not the key"},
                                {"no such cipher", "y"}};
    for (const Setting& s : settings) {
        Codec1.setCipherId(QString::fromLatin1(s.id));
        Codec1.setPassword(QString::fromLatin1(s.password));
        EXPECT_EQ(RevealHiddenTextAnsi(HidPackagePassword), first) << s.id;
    }
}

TEST(Literals, MultiFormMatchesSingleForm) {
    const QList<QByteArray> both = RevealHiddenTexts({HidPackagePassword, HidInnerPackagePassword});
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[0], RevealHiddenTextAnsi(HidPackagePassword));
    EXPECT_EQ(both[1], RevealHiddenTextAnsi(HidInnerPackagePassword));
    EXPECT_NE(both[0], both[1]);
    const QStringList texts = RevealHiddenTextsUtf16({HidHomePage, HidSupportEmail});
    EXPECT_EQ(texts,
              QStringList({RevealHiddenText(HidHomePage), RevealHiddenText(HidSupportEmail)}));
}

TEST(Codec, RoundTripAndRefusals) {
    const char* ids[] = {"native.AES-256", "native.AES-128", "native.Camellia-256",
                         "native.3DES.2"};
    const QByteArray plains[] = {"", "a", "exactly sixteen!", QByteArray(1000, '\xE9')};
    for (const char* id : ids) {
        Codec codec;
        codec.setCipherId(QString::fromLatin1(id));
        codec.setPassword(QStringLiteral("pässword"));
        for (const QByteArray& plain : plains) {
            const QByteArray cipher = codec.encrypt(plain);
            EXPECT_NE(cipher, codec.encrypt(plain)) << id << ": the IV must be fresh";
            EXPECT_EQ(codec.decrypt(cipher), plain) << id;
        }
        EXPECT_THROW(codec.decrypt("not*base64"), std::runtime_error) << id;
        EXPECT_THROW(codec.decrypt(QByteArray("short").toBase64()), std::runtime_error) << id;
    }
    Codec unknown;
    unknown.setCipherId(QStringLiteral("native.Blowfish"));
    EXPECT_THROW(unknown.encrypt("x"), std::runtime_error);
}

// The program's binaries must hold only enciphered forms of the names and passwords. The
// cipher identifiers are left out: the codec maps identifiers to ciphers by name.
TEST(Literals, BinariesHoldNoPlainForm) {
    const auto table = plainTable();
    const char* secret[] = {
        "EncSettingsPath",      "EncLibraryDir",        "EncBasePassword",
        "EncRenderPackageName", "EncRenderLibraryName", "EncRenderCompanionName",
        "HidStage2Password",    "HidPackagePassword",   "HidInnerPackagePassword",
        "HidRasterizeName",     "HidCancelName",        "HidProgressName",
        "HidLastCallName"};
    QStringList files;
    QFile list(QStringLiteral(SCANNED_FILES));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    for (const QByteArray& line : list.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            files.append(QString::fromUtf8(line.trimmed()));
    // The package: its inner names and passwords must not show through the encryption.
    files.append(QStringLiteral(PIXOLUND_BIN_DIR "/") +
                 QString::fromUtf8(DecipherName(EncRenderPackageName)));
    int scanned = 0;
    for (const QString& path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue; // not built in this tree (for example the package without its libraries)
        ++scanned;
        const QByteArray bytes = f.readAll();
        for (const char* id : secret) {
            const QByteArray plain = table.at(id);
            const QString text = QString::fromUtf8(plain);
            const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
            EXPECT_FALSE(bytes.contains(plain)) << path.toStdString() << " holds " << id;
            EXPECT_FALSE(bytes.contains(utf16)) << path.toStdString() << " holds " << id;
        }
    }
    EXPECT_GE(scanned, 2) << "the literals library and the package tool must be there";
}

// The maintainer's tool, run as a real process: its output reads back to the input.
QByteArray runEncipher(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral(ENCIPHER_TOOL), args);
    EXPECT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    return tool.readAllStandardOutput();
}

TEST(EncipherTool, OutputReadsBack) {
    const QString plain = QStringLiteral("a value with blanks & symbols \u00e9");
    const QByteArray name = runEncipher({QStringLiteral("name"), plain}).trimmed();
    EXPECT_EQ(QString::fromUtf8(DecipherName(name)), plain);
    const QByteArray hidden = runEncipher({QStringLiteral("hidden"), plain}).trimmed();
    EXPECT_EQ(RevealHiddenText(hidden.constData()), plain);
    const QByteArray stage1 = runEncipher({QStringLiteral("stage1"), plain}).trimmed();
    Codec first;
    BuildBaseKeys();
    first.setCipherId(BaseCipherId);
    first.setPassword(BasePassword);
    EXPECT_EQ(QString::fromUtf8(first.decrypt(stage1)), plain);
}

// Regenerating the header from the table gives literals that decipher to the same values.
TEST(EncipherTool, HeaderFromTable) {
    const auto table = plainTable();
    const QByteArray header =
        runEncipher({QStringLiteral("header"), QStringLiteral(LITERAL_TABLE)});
    const QRegularExpression row(QStringLiteral("char (\\w+)\\[\\] =\\s*\"([^\"]*)\";"));
    std::map<std::string, QByteArray> generated;
    for (const auto& m : row.globalMatch(QString::fromUtf8(header)))
        generated[m.captured(1).toStdString()] = m.captured(2).toUtf8();
    ASSERT_EQ(generated.size(), table.size());
    for (const NameLiteral& n : nameLiterals)
        EXPECT_EQ(DecipherName(generated.at(n.id)), table.at(n.id)) << n.id;
    for (const HiddenLiteral& h : hiddenLiterals)
        EXPECT_EQ(RevealHiddenTextAnsi(generated.at(h.id).constData()), table.at(h.id)) << h.id;
}

} // namespace
