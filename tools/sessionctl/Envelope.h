#pragma once

// The two stored files of a session and their envelopes.
//
// Both files carry a format version and a generation number. The generation is the
// same in both files written by one store, so a restore can tell when it finds a
// pair that was not written together (a store that was interrupted between them).
//
// Plain file: one data set in the data-set component's JSON form, the envelope
// around the session's plain set:
//   {"format": "sessionconfig-plain", "formatVersion": 1, "generation": "N", "session": {...}}
// (the generation as decimal text, since data-set integers have 32 bits).
//
// Encrypted file: a binary header followed by the sealed data set
//   magic "SCSESENC" (8 bytes) | format version (u32, big endian) | generation (u64, big endian)
//   | nonce (24 bytes) | XChaCha20-Poly1305 ciphertext of the data set's CBOR form, with tag
// The header (magic, version, generation) is authenticated as associated data, so a
// changed generation or version is detected just like a changed ciphertext.
//
// Every stored form is decoded strictly: a file that is truncated, altered or not a
// session file is refused with a message naming the file and the fault.

#include <DataSets.h>

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace sessionctl {

inline constexpr std::uint32_t kFormatVersion = 1;

// A 256-bit key, wiped from memory when it goes away.
class SecretKey
{
public:
    static constexpr int kSize = 32;

    // A new random key.
    static SecretKey generate();
    // The key held in a key file's bytes; throws Failure when they are no key.
    static SecretKey fromBytes(const QByteArray& bytes, const QString& path);

    SecretKey(const SecretKey&) = default;
    SecretKey& operator=(const SecretKey&) = default;
    ~SecretKey();

    QByteArray toBytes() const;
    const unsigned char* data() const { return m_key.data(); }

private:
    SecretKey() = default;
    std::array<unsigned char, kSize> m_key{};
};

// What an envelope held.
struct Opened
{
    std::uint32_t formatVersion = 0;
    std::uint64_t generation = 0;
};

struct OpenedPlain : Opened
{
    DataSets::DataSet session;
};

struct OpenedEncrypted : Opened
{
    QByteArray payload;
};

// Throws Failure (I/O) when the set cannot be written in its stored form.
QByteArray sealPlain(const DataSets::DataSet& session, std::uint64_t generation);
// Throws Failure (bad stored file) naming `path` when the bytes are not a plain
// session file of a format this program reads.
OpenedPlain openPlain(const QByteArray& bytes, const QString& path);

// True when the bytes start like an encrypted session file.
bool isEncryptedFile(const QByteArray& bytes);
QByteArray sealEncrypted(const QByteArray& payload, std::uint64_t generation, const SecretKey& key);
// Throws Failure (bad stored file) naming `path` when the file is truncated, of a
// newer format, or fails authentication (altered, or sealed with another key).
OpenedEncrypted openEncrypted(const QByteArray& bytes, const SecretKey& key, const QString& path);

// The encrypted file's payload: the data set in CBOR.
QByteArray encodeSealedSet(const DataSets::DataSet& ds);
DataSets::DataSet decodeSealedSet(const QByteArray& payload, const QString& path);

} // namespace sessionctl
