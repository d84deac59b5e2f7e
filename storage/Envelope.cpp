// SPDX-License-Identifier: MIT
#include "Envelope.h"

#include "StoreFailure.h"

#include <DataSetCodec.h>

#include <QtEndian>

#include <sodium.h>

#include <cstring>

namespace storage {

namespace {

const QString kPlainFormat = QStringLiteral("sessionconfig-plain");
constexpr char kMagic[8] = {'S', 'C', 'S', 'E', 'S', 'E', 'N', 'C'};
constexpr int kHeaderSizeV1 = 8 + 4 + 8;
constexpr int kHeaderSize = kHeaderSizeV1 + kPairIdSize;
constexpr int kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr int kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
static_assert(SecretKey::kSize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);

void initSodium()
{
    if (sodium_init() < 0)
        failIo(QStringLiteral("cannot initialise the crypto library"));
}

[[noreturn]] void refuse(const QString& path, const QString& fault)
{
    failBadFile(QStringLiteral("%1: %2").arg(path, fault));
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

int headerSize(std::uint32_t version)
{
    return version == 1 ? kHeaderSizeV1 : kHeaderSize;
}

QByteArray header(std::uint64_t generation, const QByteArray& pairId)
{
    QByteArray h(kMagic, sizeof kMagic);
    char buffer[8];
    qToBigEndian(kFormatVersion, buffer);
    h.append(buffer, 4);
    qToBigEndian(generation, buffer);
    h.append(buffer, 8);
    h.append(pairId);
    return h;
}

// The format version a plain file declares, read from its first bytes without
// parsing it: files are written with their keys in order, so "formatVersion" comes
// before the session. Lets a newer file be named as such even when its content
// would not decode; the whole file is then parsed once, strictly. 0 when not found.
std::uint64_t declaredPlainVersion(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(256);
    const QByteArray key("\"formatVersion\"");
    qsizetype i = head.indexOf(key);
    if (i < 0)
        return 0;
    i += key.size();
    auto skipSpace = [&] {
        while (i < head.size() && (head[i] == ' ' || head[i] == '\n' || head[i] == '\r' || head[i] == '\t'))
            ++i;
    };
    skipSpace();
    if (i >= head.size() || head[i] != ':')
        return 0;
    ++i;
    skipSpace();
    std::uint64_t version = 0;
    int digits = 0;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9' && digits < 10; ++i, ++digits)
        version = version * 10 + static_cast<std::uint64_t>(head[i] - '0');
    return digits ? version : 0;
}

} // namespace

qint64 maxPlainFileBytes()
{
    return DataSets::DataSetCodec::kMaxInputBytes;
}

qint64 maxEncryptedFileBytes()
{
    return DataSets::DataSetCodec::kMaxInputBytes + kHeaderSize + kNonceSize + kTagSize;
}

// sodium_malloc places the key on pages of its own between guard pages, locks them
// into memory and marks them as not to be dumped; sodium_free wipes them.
struct SecretKey::Guarded
{
    unsigned char* bytes = nullptr;
    Guarded()
        : bytes(static_cast<unsigned char*>(sodium_malloc(kSize)))
    {
        if (!bytes)
            failIo(QStringLiteral("cannot allocate protected memory for the key"));
    }
    ~Guarded() { sodium_free(bytes); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
    void seal() { sodium_mprotect_readonly(bytes); }
};

SecretKey::SecretKey()
{
    initSodium();
    m_key = std::make_shared<Guarded>();
}

SecretKey SecretKey::generate()
{
    SecretKey key;
    crypto_aead_xchacha20poly1305_ietf_keygen(key.m_key->bytes);
    key.m_key->seal();
    return key;
}

SecretKey SecretKey::fromBytes(const QByteArray& bytes, const QString& path)
{
    if (bytes.size() != kSize)
        refuse(path,
               QStringLiteral("holds no key (expected %1 bytes, found %2)").arg(kSize).arg(bytes.size()));
    SecretKey key;
    std::memcpy(key.m_key->bytes, bytes.constData(), kSize);
    key.m_key->seal();
    return key;
}

const unsigned char* SecretKey::data() const
{
    return m_key->bytes;
}

QByteArray SecretKey::toBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(m_key->bytes), kSize);
}

bool SecretKey::operator==(const SecretKey& other) const
{
    return m_key == other.m_key || sodium_memcmp(m_key->bytes, other.m_key->bytes, kSize) == 0;
}

void wipe(QByteArray& bytes)
{
    // Only a buffer of its own: a shared one would be copied by data(), leaving the original.
    if (!bytes.isEmpty() && bytes.isDetached())
        sodium_memzero(bytes.data(), static_cast<size_t>(bytes.size()));
    bytes.clear();
}

QByteArray newPairId()
{
    initSodium();
    QByteArray id(kPairIdSize, Qt::Uninitialized);
    randombytes_buf(id.data(), kPairIdSize);
    return id;
}

QByteArray sealPlain(const DataSets::DataSet& session, std::uint64_t generation, const QByteArray& pairId)
{
    using namespace DataSets::Impl;
    const DataSets::DataSet envelope = createDS(false);
    setDataValue(*envelope, QStringLiteral("format"), kPlainFormat);
    setDataValue(*envelope, QStringLiteral("formatVersion"), static_cast<int>(kFormatVersion));
    setDataValue(*envelope, QStringLiteral("generation"), QString::number(generation));
    setDataValue(*envelope, QStringLiteral("pairId"), QString::fromLatin1(pairId.toHex()));
    setDataValue(*envelope, QStringLiteral("session"), session);
    const auto encoded = DataSets::DataSetCodec::toJson(envelope);
    if (!encoded.ok())
        failIo(QStringLiteral("the plain session cannot be written: %1").arg(encoded.error.toString()));
    return encoded.bytes;
}

OpenedPlain openPlain(const QByteArray& bytes, const QString& path)
{
    using namespace DataSets::Impl;
    // A newer format may hold what this program cannot decode: say so rather than
    // calling the file corrupt.
    if (const std::uint64_t declared = declaredPlainVersion(bytes); declared > kFormatVersion)
        checkVersion(declared, path);
    const auto decoded = DataSets::DataSetCodec::fromJson(bytes);
    if (!decoded.ok())
        refuse(path, QStringLiteral("not a readable session file (%1)").arg(decoded.error.toString()));
    const DataSetImpl* envelope = decoded.set.get();

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
    int entries = 4;
    if (opened.formatVersion >= 2) {
        QString pairId;
        getDataValue(envelope, QStringLiteral("pairId"), pairId);
        opened.pairId = QByteArray::fromHex(pairId.toLatin1());
        if (opened.pairId.size() != kPairIdSize || QString::fromLatin1(opened.pairId.toHex()) != pairId)
            refuse(path,
                   QStringLiteral("\"pairId\" is missing or not %1 hexadecimal digits").arg(kPairIdSize * 2));
        ++entries;
    }
    if (!getDataValue(envelope, QStringLiteral("session"), opened.session) || opened.session->isList())
        refuse(path, QStringLiteral("\"session\" is missing or not a keyed set"));
    if (envelope->size() != entries)
        refuse(path, QStringLiteral("holds entries that a plain session file does not have"));
    return opened;
}

bool isEncryptedFile(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArray::fromRawData(kMagic, sizeof kMagic));
}

QByteArray sealEncrypted(const QByteArray& payload, std::uint64_t generation, const QByteArray& pairId,
                         const SecretKey& key)
{
    initSodium();
    const QByteArray head = header(generation, pairId);
    QByteArray out = head;
    out.resize(kHeaderSize + kNonceSize + payload.size() + kTagSize);
    auto* nonce = reinterpret_cast<unsigned char*>(out.data() + kHeaderSize);
    randombytes_buf(nonce, kNonceSize);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        nonce + kNonceSize, &sealedSize, reinterpret_cast<const unsigned char*>(payload.constData()),
        static_cast<unsigned long long>(payload.size()),
        reinterpret_cast<const unsigned char*>(head.constData()), kHeaderSize, nullptr, nonce, key.data());
    out.resize(kHeaderSize + kNonceSize + static_cast<qsizetype>(sealedSize));
    return out;
}

QByteArray encryptedPairId(const QByteArray& bytes)
{
    if (!isEncryptedFile(bytes) || bytes.size() < kHeaderSize ||
        qFromBigEndian<std::uint32_t>(bytes.constData() + 8) != kFormatVersion)
        return {};
    return bytes.mid(kHeaderSizeV1, kPairIdSize);
}

OpenedEncrypted openEncrypted(const QByteArray& bytes, const SecretKey& key, const QString& path)
{
    initSodium();
    if (!isEncryptedFile(bytes))
        refuse(path, QStringLiteral("not an encrypted session file"));
    if (bytes.size() < kHeaderSizeV1)
        refuse(path, QStringLiteral("truncated (%1 bytes)").arg(bytes.size()));
    OpenedEncrypted opened;
    opened.formatVersion = qFromBigEndian<std::uint32_t>(bytes.constData() + 8);
    opened.generation = qFromBigEndian<std::uint64_t>(bytes.constData() + 12);
    // A newer format may lay out what follows differently: judge the version first.
    checkVersion(opened.formatVersion, path);
    const int head = headerSize(opened.formatVersion);
    if (bytes.size() < head + kNonceSize + kTagSize)
        refuse(path, QStringLiteral("truncated (%1 bytes)").arg(bytes.size()));
    opened.pairId = bytes.mid(kHeaderSizeV1, head - kHeaderSizeV1);

    const auto* base = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto sealedSize = static_cast<unsigned long long>(bytes.size() - head - kNonceSize);
    opened.payload.resize(static_cast<qsizetype>(sealedSize - kTagSize));
    unsigned long long payloadSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(opened.payload.data()),
                                                   &payloadSize, nullptr, base + head + kNonceSize,
                                                   sealedSize, base, static_cast<unsigned long long>(head),
                                                   base + head, key.data()) != 0)
        refuse(path, QStringLiteral("cannot be decrypted: wrong key, or the file was altered or truncated"));
    opened.payload.resize(static_cast<qsizetype>(payloadSize));
    return opened;
}

QByteArray encodeSealedSet(const DataSets::DataSet& ds)
{
    const auto encoded = DataSets::DataSetCodec::toCbor(ds);
    if (!encoded.ok())
        failIo(QStringLiteral("the encrypted session cannot be written: %1").arg(encoded.error.toString()));
    return encoded.bytes;
}

DataSets::DataSet decodeSealedSet(const QByteArray& payload, const QString& path)
{
    const auto decoded = DataSets::DataSetCodec::fromCbor(payload);
    // Authenticated, so written with this key: still, refuse what does not decode
    // rather than trust it.
    if (!decoded.ok())
        refuse(path,
               QStringLiteral("the decrypted session is not readable (%1)").arg(decoded.error.toString()));
    if (decoded.set->isList())
        refuse(path, QStringLiteral("the decrypted session is not a keyed set"));
    return decoded.set;
}

} // namespace storage
