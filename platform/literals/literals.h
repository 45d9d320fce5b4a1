#pragma once

// The two forms in which the program keeps some of its own texts out of plain sight:
// enciphered names (hex digits XORed with NameKey) and hidden texts (base64 ciphertext,
// deciphered in two stages). The values themselves live in literal_values.h.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <initializer_list>
#include <stdexcept>

// The one key of every enciphered name.
extern const std::array<unsigned char, 8> NameKey;

// Plain text of an enciphered name: two hex digits per character (an odd last digit is
// ignored), character k XORed with NameKey[k mod 8]. Throws std::invalid_argument on a
// character that is not a hex digit.
QByteArray DecipherName(const QByteArray& hex);
// The inverse, in upper-case hex digits (used by the build-time tools and the tests).
QByteArray EncipherName(const QByteArray& plain);

// First-stage keys of hidden texts, built once by BuildBaseKeys() and kept for the
// program's lifetime. Call BuildBaseKeys() before reading them; it is cheap and thread-safe
// after the first call.
extern QString BaseCipherId, BasePassword;
void BuildBaseKeys();

// A block-cipher codec: CBC chaining, PKCS#7 padding, base64 text outside,
// ciphertext = IV (one block) followed by the CBC blocks.
// Identifiers: "native.AES-256", "native.AES-128", "native.Camellia-256" and the codec's
// initial "native.3DES.2" (two-key triple DES).
struct BlockCipher;

class Codec {
public:
    Codec();
    ~Codec();
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    void setCipherId(const QString& id);
    void setPassword(const QString& password);
    QString cipherId() const { return m_cipherId; }

    // Throws std::runtime_error on an unknown identifier, bad base64, a ciphertext that is not
    // whole blocks, or a padding that does not check out (wrong key).
    QByteArray decrypt(const QByteArray& base64) const;
    // Fresh random IV on every call.
    QByteArray encrypt(const QByteArray& plain) const;

private:
    // The key for the current password and cipher; derived once, as derivation is slow on
    // purpose and a reveal deciphers several texts with one key.
    QByteArray key(const BlockCipher* cipher) const;

    QString m_cipherId;
    QString m_password;
    mutable QString m_keyPassword;
    mutable const BlockCipher* m_keyCipher = nullptr;
    mutable QByteArray m_key;
};

// The main window's codec. RevealHiddenText re-keys it from the first stage at every use, so
// whatever it was set to before does not matter.
extern Codec Codec1;

// Stages 1 to 3 on the given codec: the first-stage keys decipher the second-stage identifier
// and password, which are then left set in the codec.
void PrepareSecondStage(Codec& codec);

// Hidden texts hold UTF-8 bytes; the kind only selects the form of the result (on Linux the
// system's 8-bit code page is UTF-8, so both forms carry the same text).
enum class HiddenKind { Utf16, Ansi };

QByteArray RevealHiddenTextAnsi(const char* literal);
QString RevealHiddenText(const char* literal);
// Several hidden texts at one moment: the first and second stage keys are set up once.
QList<QByteArray> RevealHiddenTexts(std::initializer_list<const char*> literals);
QStringList RevealHiddenTextsUtf16(std::initializer_list<const char*> literals);
