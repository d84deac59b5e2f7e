#include "Envelope.h"

#include "Failure.h"

#include <DataSetCodec.h>

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

QByteArray sealPlain(const DataSets::DataSet& session, std::uint64_t generation)
{
    using namespace DataSets::Impl;
    const DataSets::DataSet envelope = createDS(false);
    setDataValue(*envelope, QStringLiteral("format"), kPlainFormat);
    setDataValue(*envelope, QStringLiteral("formatVersion"), static_cast<int>(kFormatVersion));
    setDataValue(*envelope, QStringLiteral("generation"), QString::number(generation));
    setDataValue(*envelope, QStringLiteral("session"), session);
    const auto encoded = DataSets::DataSetCodec::toJson(envelope);
    if (!encoded.ok())
        throw Failure{
            ExitIo, QStringLiteral("the plain session cannot be written: %1").arg(encoded.error.toString())};
    return encoded.bytes;
}

OpenedPlain openPlain(const QByteArray& bytes, const QString& path)
{
    using namespace DataSets::Impl;
    const auto decoded = DataSets::DataSetCodec::fromJson(bytes);
    if (!decoded.ok()) {
        // A newer format may hold what this program cannot decode: say so rather
        // than calling the file corrupt.
        const QJsonValue version =
            QJsonDocument::fromJson(bytes).object().value(QStringLiteral("formatVersion"));
        if (version.toInteger() > kFormatVersion)
            checkVersion(static_cast<std::uint64_t>(version.toInteger()), path);
        refuse(path, QStringLiteral("not a readable session file (%1)").arg(decoded.error.toString()));
    }
    const DataSets::Impl::DataSetImpl* envelope = decoded.set.get();

    QString format;
    getDataValue(envelope, QStringLiteral("format"), format);
    if (envelope->isList() || format != kPlainFormat)
        refuse(path, QStringLiteral("not a plain session file"));
    int version = 0;
    if (!getDataValue(envelope, QStringLiteral("formatVersion"), version) || version < 0)
        refuse(path, QStringLiteral("\"formatVersion\" is missing or not a whole number"));
    checkVersion(static_cast<std::uint32_t>(version), path);

    OpenedPlain opened;
    opened.formatVersion = static_cast<std::uint32_t>(version);
    QString generation;
    getDataValue(envelope, QStringLiteral("generation"), generation);
    bool ok = false;
    opened.generation = generation.toULongLong(&ok, 10);
    if (!ok || generation != QString::number(opened.generation))
        refuse(path, QStringLiteral("\"generation\" is missing or not a whole number"));
    if (!getDataValue(envelope, QStringLiteral("session"), opened.session) || opened.session->isList())
        refuse(path, QStringLiteral("\"session\" is missing or not a keyed set"));
    if (envelope->size() != 4)
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

QByteArray encodeSealedSet(const DataSets::DataSet& ds)
{
    const auto encoded = DataSets::DataSetCodec::toCbor(ds);
    if (!encoded.ok())
        throw Failure{
            ExitIo,
            QStringLiteral("the encrypted session cannot be written: %1").arg(encoded.error.toString())};
    return encoded.bytes;
}

DataSets::DataSet decodeSealedSet(const QByteArray& payload, const QString& path)
{
    const auto decoded = DataSets::DataSetCodec::fromCbor(payload);
    // Authenticated, so written by this program with this key: still, refuse what
    // does not decode rather than trust it.
    if (!decoded.ok())
        refuse(path,
               QStringLiteral("the decrypted session is not readable (%1)").arg(decoded.error.toString()));
    if (decoded.set->isList())
        refuse(path, QStringLiteral("the decrypted session is not a keyed set"));
    return decoded.set;
}

} // namespace sessionctl
