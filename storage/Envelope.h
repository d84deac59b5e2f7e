// SPDX-License-Identifier: MIT
#pragma once

// The two stored files of a session and their envelopes.
//
// Both files carry a format version, the generation of the store that wrote them
// and (from format 2 on) a pair id: a random id drawn once per store and written
// into both files. A restore can so tell a pair that was not written together (a
// store interrupted between the two files, or two stores crossing), also when the
// generations happen to be equal.
//
// Plain file: one data set in the data-set component's JSON form:
//   {"format": "sessionconfig-plain", "formatVersion": 2, "generation": "N",
//    "pairId": "<32 hex digits>", "session": {...}}
// (the generation as decimal text, since data-set integers have 32 bits; format 1
// has no pair id).
//
// Encrypted file: a binary header followed by the sealed data set
//   magic "SCSESENC" (8 bytes) | format version (u32, big endian) | generation (u64,
//   big endian) | pair id (16 bytes, format 2 only) | nonce (24 bytes)
//   | XChaCha20-Poly1305 ciphertext of the data set's CBOR form, with tag
// The header is authenticated as associated data, so a changed generation, version
// or pair id is detected just like a changed ciphertext.
//
// Files of format 1 are still read; files are written in format 2. Every stored form
// is decoded strictly: a file that is truncated, altered or not a session file is
// refused with a message naming the file and the fault.

#include <DataSets.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

namespace storage {

inline constexpr std::uint32_t kFormatVersion = 2;
inline constexpr int kPairIdSize = 16;

// Largest stored files worth reading: what the data-set decoder accepts, plus the
// encrypted file's own header and seal.
qint64 maxPlainFileBytes();
qint64 maxEncryptedFileBytes();

// A 256-bit key in memory of its own: locked (never swapped), left out of core
// dumps, read-only once filled, and wiped when the last copy goes. Copies share it.
class SecretKey
{
public:
    static constexpr int kSize = 32;

    static SecretKey generate();
    // The key held in a key file's bytes; throws StoreFailure when they are no key.
    static SecretKey fromBytes(const QByteArray& bytes, const QString& path);

    // The key's bytes in an ordinary array, for a write that needs them; the caller
    // wipes it (wipe()) once written.
    QByteArray toBytes() const;
    const unsigned char* data() const;

    // Constant-time comparison.
    bool operator==(const SecretKey& other) const;
    bool operator!=(const SecretKey& other) const { return !(*this == other); }

private:
    struct Guarded;
    SecretKey();
    std::shared_ptr<Guarded> m_key;
};

// Overwrites the bytes of `bytes` (which held a key or a secret) before it goes.
void wipe(QByteArray& bytes);

// A new random pair id.
QByteArray newPairId();

// What an envelope held. The pair id is empty in format 1.
struct Opened
{
    std::uint32_t formatVersion = 0;
    std::uint64_t generation = 0;
    QByteArray pairId;
};

struct OpenedPlain : Opened
{
    DataSets::DataSet session;
};

struct OpenedEncrypted : Opened
{
    QByteArray payload;
};

// Throw StoreFailure (I/O) when the set cannot be written in its stored form.
QByteArray sealPlain(const DataSets::DataSet& session, std::uint64_t generation, const QByteArray& pairId);
QByteArray encodeSealedSet(const DataSets::DataSet& ds);
QByteArray sealEncrypted(const QByteArray& payload, std::uint64_t generation, const QByteArray& pairId,
                         const SecretKey& key);

// True when the bytes start like an encrypted session file.
bool isEncryptedFile(const QByteArray& bytes);

// The pair id an encrypted file's header names, read without the key and so not yet
// authenticated (restore still opens the file in full); empty when the bytes are no
// encrypted file of format 2.
QByteArray encryptedPairId(const QByteArray& bytes);

// Throw StoreFailure (bad stored file) naming `path` when the bytes are not a session
// file of a format this library reads, or (encrypted) fail authentication.
OpenedPlain openPlain(const QByteArray& bytes, const QString& path);
OpenedEncrypted openEncrypted(const QByteArray& bytes, const SecretKey& key, const QString& path);
DataSets::DataSet decodeSealedSet(const QByteArray& payload, const QString& path);

} // namespace storage
