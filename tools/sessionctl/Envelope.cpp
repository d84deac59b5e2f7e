#include "Envelope.h"

#include "Failure.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <sodium.h>

#include <cstring>

namespace sessionctl {

namespace {

const QString kPlainFormat = QStringLiteral("sessionconfig-plain");
constexpr char kMagic[8] = {'S', 'C', 'S', 'E', 'S', 'E', 'N', 'C'};
constexpr int kHeaderSize = 8 + 4 + 8;
constexpr int kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr int kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
static_assert(SecretKey::kSize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);

// JSON numbers are doubles: generations stay below 2^53 so they survive exactly.
constexpr double kMaxJsonInteger = 9007199254740992.0;

void initSodium()
{
    if (sodium_init() < 0)
        throw Failure{ExitIo, QStringLiteral("cannot initialise the crypto library")};
}

[[noreturn]] void refuse(const QString& path, const QString& fault)
{
    throw Failure{ExitBadStoredFile, QStringLiteral("%1: %2").arg(path, fault)};
}

void checkVersion(std::uint64_t version, const QString& path)
{
    if (version == 0)
        refuse(path, QStringLiteral("format version 0 is not valid"));
    if (version > kFormatVersion)
        refuse(path, QStringLiteral("written in format version %1, newer than this program reads (%2); "
                                    "left untouched")
                         .arg(version)
                         .arg(kFormatVersion));
}

QByteArray header(std::uint32_t version, std::uint64_t generation)
{
    QByteArray h(kMagic, sizeof kMagic);
    char buffer[8];
    qToBigEndian(version, buffer);
    h.append(buffer, 4);
    qToBigEndian(generation, buffer);
    h.append(buffer, 8);
    return h;
}

} // namespace

SecretKey SecretKey::generate()
{
    initSodium();
    SecretKey key;
    crypto_aead_xchacha20poly1305_ietf_keygen(key.m_key.data());
    return key;
}

SecretKey SecretKey::fromBytes(const QByteArray& bytes, const QString& path)
{
    if (bytes.size() != kSize)
        refuse(path,
               QStringLiteral("not a key file (expected %1 bytes, found %2)").arg(kSize).arg(bytes.size()));
    SecretKey key;
    std::memcpy(key.m_key.data(), bytes.constData(), kSize);
    return key;
}

SecretKey::~SecretKey()
{
    sodium_memzero(m_key.data(), m_key.size());
}

QByteArray SecretKey::toBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(m_key.data()), kSize);
}

QByteArray sealPlain(const QJsonValue& session, std::uint64_t generation)
{
    QJsonObject root;
    root.insert(QStringLiteral("format"), kPlainFormat);
    root.insert(QStringLiteral("formatVersion"), static_cast<qint64>(kFormatVersion));
    root.insert(QStringLiteral("generation"), static_cast<qint64>(generation));
    root.insert(QStringLiteral("session"), session);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

OpenedPlain openPlain(const QByteArray& bytes, const QString& path)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        refuse(path, QStringLiteral("not valid JSON (%1 at byte %2); truncated or corrupt")
                         .arg(error.errorString())
                         .arg(error.offset));
    if (!doc.isObject() || doc.object().value(QStringLiteral("format")).toString() != kPlainFormat)
        refuse(path, QStringLiteral("not a plain session file"));
    const QJsonObject root = doc.object();

    const auto wholeNumber = [&](const char* key) -> std::uint64_t {
        const QJsonValue v = root.value(QLatin1String(key));
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 0 || d >= kMaxJsonInteger ||
            d != static_cast<double>(static_cast<qint64>(d)))
            refuse(path, QStringLiteral("\"%1\" is missing or not a whole number").arg(QLatin1String(key)));
        return static_cast<std::uint64_t>(d);
    };
    OpenedPlain opened;
    const std::uint64_t version = wholeNumber("formatVersion");
    checkVersion(version, path);
    opened.formatVersion = static_cast<std::uint32_t>(version);
    opened.generation = wholeNumber("generation");
    opened.session = root.value(QStringLiteral("session"));
    if (!opened.session.isObject())
        refuse(path, QStringLiteral("\"session\" is missing or not an object"));
    if (root.size() != 4)
        refuse(path, QStringLiteral("holds entries that a plain session file does not have"));
    return opened;
}

bool isEncryptedFile(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArray::fromRawData(kMagic, sizeof kMagic));
}

QByteArray sealEncrypted(const QByteArray& payload, std::uint64_t generation, const SecretKey& key)
{
    initSodium();
    const QByteArray head = header(kFormatVersion, generation);
    QByteArray out = head;
    out.resize(kHeaderSize + kNonceSize + payload.size() + kTagSize);
    auto* nonce = reinterpret_cast<unsigned char*>(out.data() + kHeaderSize);
    randombytes_buf(nonce, kNonceSize);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        nonce + kNonceSize, &sealedSize, reinterpret_cast<const unsigned char*>(payload.constData()),
        static_cast<unsigned long long>(payload.size()),
        reinterpret_cast<const unsigned char*>(head.constData()), kHeaderSize, nullptr, nonce, key.data());
    out.resize(kHeaderSize + kNonceSize + static_cast<int>(sealedSize));
    return out;
}

OpenedEncrypted openEncrypted(const QByteArray& bytes, const SecretKey& key, const QString& path)
{
    initSodium();
    if (!isEncryptedFile(bytes))
        refuse(path, QStringLiteral("not an encrypted session file"));
    if (bytes.size() < kHeaderSize)
        refuse(path, QStringLiteral("truncated (%1 bytes)").arg(bytes.size()));
    OpenedEncrypted opened;
    opened.formatVersion = qFromBigEndian<std::uint32_t>(bytes.constData() + 8);
    opened.generation = qFromBigEndian<std::uint64_t>(bytes.constData() + 12);
    // A newer format may lay out what follows differently: judge the version first.
    checkVersion(opened.formatVersion, path);
    if (bytes.size() < kHeaderSize + kNonceSize + kTagSize)
        refuse(path, QStringLiteral("truncated (%1 bytes)").arg(bytes.size()));

    const auto* base = reinterpret_cast<const unsigned char*>(bytes.constData());
    const unsigned long long sealedSize =
        static_cast<unsigned long long>(bytes.size() - kHeaderSize - kNonceSize);
    opened.payload.resize(static_cast<int>(sealedSize - kTagSize));
    unsigned long long payloadSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(opened.payload.data()),
                                                   &payloadSize, nullptr, base + kHeaderSize + kNonceSize,
                                                   sealedSize, base, kHeaderSize, base + kHeaderSize,
                                                   key.data()) != 0)
        refuse(path, QStringLiteral("cannot be decrypted: wrong key, or the file was altered or truncated"));
    opened.payload.resize(static_cast<int>(payloadSize));
    return opened;
}

} // namespace sessionctl
