#include "platform/literals/literals.h"

#include "platform/literals/literal_values.h"

#include <nettle/aes.h>
#include <nettle/camellia.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <nettle/pbkdf2.h>

#include <QRandomGenerator>

#include <cstring>
#include <mutex>

const std::array<unsigned char, 8> NameKey = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0xF4, 0x69, 0xD0};

// Nettle rather than OpenSSL: its ciphers need no provider set up first, which cost a short
// command more than all its deciphering.
struct BlockCipher {
    const char* id;
    int keyLength;
    int blockSize;
    // CBC over whole blocks with the given key and IV (the IV is updated).
    void (*cbc)(const uint8_t* key, bool encrypt, uint8_t* iv, size_t length, uint8_t* dst,
                const uint8_t* src);
};

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

template <typename Ctx, void (*SetEncrypt)(Ctx*, const uint8_t*),
          void (*SetDecrypt)(Ctx*, const uint8_t*),
          void (*Encrypt)(const Ctx*, size_t, uint8_t*, const uint8_t*),
          void (*Decrypt)(const Ctx*, size_t, uint8_t*, const uint8_t*), size_t Block>
void blockCbc(const uint8_t* key, bool encrypt, uint8_t* iv, size_t length, uint8_t* dst,
              const uint8_t* src) {
    Ctx ctx;
    if (encrypt) {
        SetEncrypt(&ctx, key);
        cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(Encrypt), Block, iv, length, dst,
                    src);
    } else {
        SetDecrypt(&ctx, key);
        cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(Decrypt), Block, iv, length, dst,
                    src);
    }
}

// Two-key triple DES: K1, K2, K1. Weak keys are not refused, as OpenSSL did not either.
void des3TwoKeyCbc(const uint8_t* key, bool encrypt, uint8_t* iv, size_t length, uint8_t* dst,
                   const uint8_t* src) {
    uint8_t full[DES3_KEY_SIZE];
    std::memcpy(full, key, 16);
    std::memcpy(full + 16, key, 8);
    des3_ctx ctx;
    (void)des3_set_key(&ctx, full);
    if (encrypt)
        cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(des3_encrypt), DES3_BLOCK_SIZE, iv,
                    length, dst, src);
    else
        cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(des3_decrypt), DES3_BLOCK_SIZE, iv,
                    length, dst, src);
}

const BlockCipher blockCiphers[] = {
    {"native.AES-256", AES256_KEY_SIZE, AES_BLOCK_SIZE,
     blockCbc<aes256_ctx, aes256_set_encrypt_key, aes256_set_decrypt_key, aes256_encrypt,
              aes256_decrypt, AES_BLOCK_SIZE>},
    {"native.AES-128", AES128_KEY_SIZE, AES_BLOCK_SIZE,
     blockCbc<aes128_ctx, aes128_set_encrypt_key, aes128_set_decrypt_key, aes128_encrypt,
              aes128_decrypt, AES_BLOCK_SIZE>},
    {"native.Camellia-256", CAMELLIA256_KEY_SIZE, CAMELLIA_BLOCK_SIZE,
     blockCbc<camellia256_ctx, camellia256_set_encrypt_key, camellia256_set_decrypt_key,
              camellia256_crypt, camellia256_crypt, CAMELLIA_BLOCK_SIZE>},
    {"native.3DES.2", 16, DES3_BLOCK_SIZE, des3TwoKeyCbc},
};

const BlockCipher* cipherFor(const QString& id) {
    for (const BlockCipher& cipher : blockCiphers) {
        if (id == QLatin1String(cipher.id))
            return &cipher;
    }
    throw std::runtime_error("unknown block-cipher identifier");
}

// Key from password: PBKDF2-HMAC-SHA256 over the password's UTF-8 bytes with a fixed salt and
// 1000 iterations, as many key bytes as the cipher takes. A fixed salt is enough here: the
// point is a key of the right length from a text, not protection of a user's password; and
// every start of the command derives two keys, so more iterations would only slow it down.
QByteArray deriveKey(const QString& password, const BlockCipher* cipher) {
    static const unsigned char salt[] = {0x50, 0x78, 0x4C, 0x69, 0x74, 0x2E, 0x9D, 0x13,
                                         0xE7, 0x42, 0x0B, 0xC8, 0x76, 0x31, 0xAF, 0x58};
    const QByteArray pw = password.toUtf8();
    QByteArray key(cipher->keyLength, Qt::Uninitialized);
    pbkdf2_hmac_sha256(size_t(pw.size()), reinterpret_cast<const uint8_t*>(pw.constData()), 1000,
                       sizeof salt, salt, size_t(key.size()),
                       reinterpret_cast<uint8_t*>(key.data()));
    return key;
}

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

QByteArray Codec::key(const BlockCipher* cipher) const {
    if (m_key.isEmpty() || m_keyCipher != cipher || m_keyPassword != m_password) {
        m_key = deriveKey(m_password, cipher);
        m_keyCipher = cipher;
        m_keyPassword = m_password;
    }
    return m_key;
}

QByteArray Codec::decrypt(const QByteArray& base64) const {
    const BlockCipher* cipher = cipherFor(m_cipherId);
    const auto decoded =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw std::runtime_error("hidden text is not valid base64");
    const QByteArray& data = *decoded;
    const int block = cipher->blockSize;
    if (data.size() < 2 * block || data.size() % block != 0)
        throw std::runtime_error("hidden text is not whole cipher blocks");
    const QByteArray key = this->key(cipher);
    QByteArray iv = data.left(block);
    QByteArray plain(data.size() - block, Qt::Uninitialized);
    cipher->cbc(reinterpret_cast<const uint8_t*>(key.constData()), false,
                reinterpret_cast<uint8_t*>(iv.data()), size_t(plain.size()),
                reinterpret_cast<uint8_t*>(plain.data()),
                reinterpret_cast<const uint8_t*>(data.constData()) + block);
    // PKCS#7: a wrong key shows as padding that does not check out.
    const int pad = uchar(plain.back());
    if (pad < 1 || pad > block)
        throw std::runtime_error("hidden text does not decipher with this key");
    for (qsizetype k = plain.size() - pad; k < plain.size(); ++k) {
        if (uchar(plain[k]) != pad)
            throw std::runtime_error("hidden text does not decipher with this key");
    }
    plain.truncate(plain.size() - pad);
    return plain;
}

QByteArray Codec::encrypt(const QByteArray& plain) const {
    const BlockCipher* cipher = cipherFor(m_cipherId);
    const int block = cipher->blockSize;
    const QByteArray key = this->key(cipher);
    const int pad = block - int(plain.size() % block);
    QByteArray padded = plain + QByteArray(pad, char(pad));
    QByteArray data(block + padded.size(), Qt::Uninitialized);
    auto* iv = reinterpret_cast<uint8_t*>(data.data());
    for (int k = 0; k < block; k += 4) {
        const quint32 word = QRandomGenerator::system()->generate();
        std::memcpy(iv + k, &word, 4);
    }
    QByteArray chain(data.left(block));
    cipher->cbc(reinterpret_cast<const uint8_t*>(key.constData()), true,
                reinterpret_cast<uint8_t*>(chain.data()), size_t(padded.size()), iv + block,
                reinterpret_cast<const uint8_t*>(padded.constData()));
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
