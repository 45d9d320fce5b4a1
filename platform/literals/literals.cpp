#include "platform/literals/literals.h"

#include "platform/literals/literal_values.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <mutex>

const std::array<unsigned char, 8> NameKey = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0xF4, 0x69, 0xD0};

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    throw std::invalid_argument("enciphered name holds a character that is not a hex digit");
}

const EVP_CIPHER* cipherFor(const QString& id) {
    // Our own texts need no system policy, and reading the system's OpenSSL configuration is a
    // good part of a short command's start.
    static const bool initialised = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
    (void)initialised;
    if (id == QLatin1String("native.AES-256"))
        return EVP_aes_256_cbc();
    if (id == QLatin1String("native.AES-128"))
        return EVP_aes_128_cbc();
    if (id == QLatin1String("native.Camellia-256"))
        return EVP_camellia_256_cbc();
    if (id == QLatin1String("native.3DES.2"))
        return EVP_des_ede_cbc();
    throw std::runtime_error("unknown block-cipher identifier");
}

// Key from password: PBKDF2-HMAC-SHA256 over the password's UTF-8 bytes with a fixed salt and
// 1000 iterations, as many key bytes as the cipher takes. A fixed salt is enough here: the
// point is a key of the right length from a text, not protection of a user's password; and
// every start of the command derives two keys, so more iterations would only slow it down.
QByteArray deriveKey(const QString& password, const EVP_CIPHER* cipher) {
    static const unsigned char salt[] = {0x50, 0x78, 0x4C, 0x69, 0x74, 0x2E, 0x9D, 0x13,
                                         0xE7, 0x42, 0x0B, 0xC8, 0x76, 0x31, 0xAF, 0x58};
    const QByteArray pw = password.toUtf8();
    QByteArray key(EVP_CIPHER_get_key_length(cipher), Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(pw.constData(), int(pw.size()), salt, int(sizeof salt), 1000,
                          EVP_sha256(), int(key.size()),
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        throw std::runtime_error("key derivation failed");
    return key;
}

struct CipherCtx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

// Serialises every use of Codec1 and the first-stage keys.
std::mutex& codecMutex() {
    static std::mutex m;
    return m;
}

std::once_flag baseKeysOnce;

} // namespace

void PrepareSecondStage(Codec& codec) {
    BuildBaseKeys();
    codec.setCipherId(BaseCipherId);
    codec.setPassword(BasePassword);
    const QByteArray id = codec.decrypt(HidStage2CipherId);
    const QByteArray password = codec.decrypt(HidStage2Password);
    codec.setCipherId(QString::fromUtf8(id));
    codec.setPassword(QString::fromUtf8(password));
}

QByteArray DecipherName(const QByteArray& hex) {
    const qsizetype n = hex.size() / 2;
    QByteArray plain(n, Qt::Uninitialized);
    for (qsizetype k = 0; k < n; ++k) {
        const int value = hexDigit(hex[2 * k]) * 16 + hexDigit(hex[2 * k + 1]);
        plain[k] = char(value ^ NameKey[size_t(k % 8)]);
    }
    return plain;
}

QByteArray EncipherName(const QByteArray& plain) {
    QByteArray mixed(plain.size(), Qt::Uninitialized);
    for (qsizetype k = 0; k < plain.size(); ++k)
        mixed[k] = char(uchar(plain[k]) ^ NameKey[size_t(k % 8)]);
    return mixed.toHex().toUpper();
}

QString BaseCipherId;
QString BasePassword;

void BuildBaseKeys() {
    std::call_once(baseKeysOnce, [] {
        BaseCipherId = QString::fromUtf8(DecipherName(EncBaseCipherId));
        BasePassword = QString::fromUtf8(DecipherName(EncBasePassword));
    });
}

Codec::Codec() : m_cipherId(QStringLiteral("native.3DES.2")) {}
Codec::~Codec() = default;

void Codec::setCipherId(const QString& id) {
    m_cipherId = id;
}
void Codec::setPassword(const QString& password) {
    m_password = password;
}

QByteArray Codec::key(const EVP_CIPHER* cipher) const {
    if (m_key.isEmpty() || m_keyCipher != cipher || m_keyPassword != m_password) {
        m_key = deriveKey(m_password, cipher);
        m_keyCipher = cipher;
        m_keyPassword = m_password;
    }
    return m_key;
}

QByteArray Codec::decrypt(const QByteArray& base64) const {
    const EVP_CIPHER* cipher = cipherFor(m_cipherId);
    const auto decoded =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw std::runtime_error("hidden text is not valid base64");
    const QByteArray& data = *decoded;
    const int block = EVP_CIPHER_get_block_size(cipher);
    if (data.size() < 2 * block || data.size() % block != 0)
        throw std::runtime_error("hidden text is not whole cipher blocks");
    const QByteArray key = this->key(cipher);
    CipherCtx c;
    QByteArray plain(data.size(), Qt::Uninitialized);
    int outLen = 0;
    int finalLen = 0;
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    const auto* in = reinterpret_cast<const unsigned char*>(data.constData());
    if (!c.ctx ||
        EVP_DecryptInit_ex(c.ctx, cipher, nullptr, reinterpret_cast<const uchar*>(key.constData()),
                           in) != 1 ||
        EVP_DecryptUpdate(c.ctx, out, &outLen, in + block, int(data.size()) - block) != 1 ||
        EVP_DecryptFinal_ex(c.ctx, out + outLen, &finalLen) != 1)
        throw std::runtime_error("hidden text does not decipher with this key");
    plain.truncate(outLen + finalLen);
    return plain;
}

QByteArray Codec::encrypt(const QByteArray& plain) const {
    const EVP_CIPHER* cipher = cipherFor(m_cipherId);
    const int block = EVP_CIPHER_get_block_size(cipher);
    const QByteArray key = this->key(cipher);
    QByteArray data(block + plain.size() + block, Qt::Uninitialized);
    auto* iv = reinterpret_cast<unsigned char*>(data.data());
    if (RAND_bytes(iv, block) != 1)
        throw std::runtime_error("no random bytes for the IV");
    CipherCtx c;
    int outLen = 0;
    int finalLen = 0;
    if (!c.ctx ||
        EVP_EncryptInit_ex(c.ctx, cipher, nullptr, reinterpret_cast<const uchar*>(key.constData()),
                           iv) != 1 ||
        EVP_EncryptUpdate(c.ctx, iv + block, &outLen,
                          reinterpret_cast<const uchar*>(plain.constData()),
                          int(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(c.ctx, iv + block + outLen, &finalLen) != 1)
        throw std::runtime_error("enciphering failed");
    data.truncate(block + outLen + finalLen);
    return data.toBase64();
}

Codec Codec1;

QByteArray RevealHiddenTextAnsi(const char* literal) {
    return RevealHiddenTexts({literal}).front();
}

QString RevealHiddenText(const char* literal) {
    return QString::fromUtf8(RevealHiddenTextAnsi(literal));
}

QList<QByteArray> RevealHiddenTexts(std::initializer_list<const char*> literals) {
    std::lock_guard lock(codecMutex());
    // OpenSSL keeps state for each thread that used it, freed only as the thread ends; a worker
    // thread that reveals may still be ending when the process exits.
    struct ThreadStateRelease {
        ~ThreadStateRelease() { OPENSSL_thread_stop(); }
    } release;
    PrepareSecondStage(Codec1);
    QList<QByteArray> plain;
    plain.reserve(qsizetype(literals.size()));
    for (const char* literal : literals)
        plain.append(Codec1.decrypt(QByteArray(literal)));
    return plain;
}

QStringList RevealHiddenTextsUtf16(std::initializer_list<const char*> literals) {
    QStringList texts;
    for (const QByteArray& text : RevealHiddenTexts(literals))
        texts.append(QString::fromUtf8(text));
    return texts;
}
