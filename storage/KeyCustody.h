// SPDX-License-Identifier: MIT
#pragma once

// Where the data key is kept, and the one place that loads, creates, moves, replaces
// and removes it.
//
// Secret-store custody: the key is an entry of the platform secret store named after
// the canonical state directory; no byte of it is written to disk. A key file found
// there is the key of an earlier run: it is moved into the store (written, read back,
// compared, then the file removed), and stays as it was when any step fails.
// File custody: the key file (0600), as when no secret store answers.
//
// A key rotation keeps the new key under a second name (the entry "<account> next",
// or the file "<key file>-next") until the stored session is sealed with it and the
// key has replaced the old one, so a kill at any moment leaves a key that opens the
// stored file: the opener tries the kept key, then the pending one.

#include "Envelope.h"
#include "SecretStore.h"
#include "SessionStore.h"

#include <QByteArray>
#include <QStringList>

#include <optional>
#include <vector>

namespace storage {

class KeyCustody
{
public:
    enum class Source { Kept, Pending, EarlierFile };
    struct Candidate
    {
        SecretKey key;
        Source source;
    };

    KeyCustody(QByteArray stateDirectory, QByteArray keyFile, bool keyFileGiven,
               const SessionStore::Options& options);

    QByteArray path() const { return m_keyFile; }
    // Where the key lives; settle() first.
    const SessionStore::KeyPlace& place() const { return *m_place; }

    // Throws StoreFailure (I/O) when the secret store is required and cannot be asked
    // at all; cheap, and touches nothing, so it can come before the directory is made.
    void checkRequired() const;

    // Decides where the key lives, asking the secret store at most once per object.
    // Throws StoreFailure (I/O) when the secret store is required and none answers.
    const SessionStore::KeyPlace& settle();

    // The keys that may open the stored file, the kept one first. Throws StoreFailure.
    std::vector<Candidate> candidates(QStringList& warnings);

    // Under the lock, once the stored file opened with `opened` (nullopt: nothing is
    // stored): finishes a move into the secret store or a rotation that a kill or a
    // failure interrupted, and drops a pending key nothing uses.
    void tidy(const std::vector<Candidate>& candidates, std::optional<Source> opened, QStringList& warnings);

    // The key to seal with: the kept one, or a new one, kept before it is used.
    SecretKey obtain(QStringList& warnings);

    // Rotation, in three steps: the new key kept as pending, (the session sealed with
    // it by the caller), then made the kept key.
    void keepPending(const SecretKey& key);
    void promote(const SecretKey& key);

    // Removes every kept key of the state directory; warnings for what may remain.
    void forget(QStringList& warnings);

private:
    std::optional<SecretKey> loadFile(const QByteArray& path, QStringList& warnings) const;
    std::optional<SecretKey> loadEntry(const QString& name);
    void writeEntry(const QString& name, const SecretKey& key);
    void removeFile(const QByteArray& path) const;
    void migrate(const SecretKey& key, QStringList& warnings);
    QString pendingEntry() const { return m_account + QStringLiteral(" next"); }
    QByteArray pendingFile() const { return m_keyFile + "-next"; }

    QByteArray m_stateDirectory;
    QByteArray m_keyFile;
    bool m_keyFileGiven;
    SessionStore::KeyStore m_mode;
    SecretStore m_store;
    QString m_account;
    std::optional<SessionStore::KeyPlace> m_place;
};

} // namespace storage
