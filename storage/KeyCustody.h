// SPDX-License-Identifier: MIT
#pragma once

// Where the data key is kept, and the one place that loads, creates, moves, replaces
// and removes it.
//
// Secret-store custody: the key is an entry of the platform secret store named after
// the state directory's identity (a random id kept in session.id, so that a renamed,
// moved or bind-mounted directory finds its entry); no byte of it is written to disk.
// The key leaves a key file only for a collection that is kept on disk: a store
// whose default collection lives in memory only would lose it at its next restart.
// File custody: the key file (0600), as when no secret store keeps keys.
//
// A key rotation keeps the new key under a second name (the entry "<name> next", or
// the file "<key file>-next") until the stored session is sealed with it and the key
// has replaced the old one. Opening tries every key that could open the session,
// newest first: the pending entry and file, the kept entry (and an entry this
// directory had under an earlier name), then the kept file. Whatever is not the key
// that opened the session is removed under the lock, so a kill or a failure at any
// moment leaves a key that opens the stored file, and nothing stale stays behind.

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
    enum class Source {
        PendingEntry, // a rotation's new key in the secret store
        PendingFile,  // a rotation's new key beside the key file
        KeptEntry,    // the key in the secret store
        EarlierEntry, // an entry under an earlier name (the path, or a copy's original)
        KeptFile,     // the key file
    };
    struct Candidate
    {
        SecretKey key;
        Source source;
        QString entry;     // the entry's name, for the entries
        bool owned = true; // false for the entry of the directory this one was copied from
    };

    KeyCustody(QByteArray stateDirectory, QByteArray keyFile, bool keyFileGiven,
               const SessionStore::Options& options);

    QByteArray path() const { return m_keyFile; }
    // Where the key lives; settle() first.
    const SessionStore::KeyPlace& place() const { return *m_place; }

    // Throws StoreFailure (I/O) when the secret store is required and cannot be asked
    // at all, (bad options) when the key file given is one of the state files; cheap,
    // and touches nothing, so it can come before the directory is made.
    void checkRequired() const;

    // Under the lock: reads the directory's identity, or gives it one (a new one for a
    // copy, which so gets an entry of its own and leaves the original's alone).
    void adopt(int dir);

    // Decides where the key lives, asking the secret store at most once per object.
    // Throws StoreFailure (I/O) when the secret store is required and none answers.
    const SessionStore::KeyPlace& settle();

    // Every key that may open the stored file, newest first; entries and files that
    // hold no key are skipped with a warning. Throws StoreFailure.
    std::vector<Candidate> candidates(QStringList& warnings);

    // Why the last candidates() found no key in an entry or file that was there
    // (empty, wrong length), one line each.
    QStringList skipped() const;

    // Why an unopenable file may still have a key elsewhere (a store that could not be
    // asked), as a clause to append to the refusal; empty when there is nothing to add.
    QString whereElse() const;

    // Under the lock, once the stored file opened with `opened` (null: nothing is
    // stored): makes the opening key the kept one in the place settled, and removes
    // pending keys and old copies that no longer open anything.
    void tidy(const std::vector<Candidate>& candidates, const Candidate* opened, QStringList& warnings);

    // The key to seal with: the kept one, or a new one, kept before it is used.
    SecretKey obtain(QStringList& warnings);

    // Rotation, in three steps: the new key kept as pending, (the session sealed with
    // it by the caller), then made the kept key.
    void keepPending(const SecretKey& key);
    void promote(const SecretKey& key);

    // True when the key file is the state directory's own (the default, or one given
    // inside the directory); one given elsewhere may serve other directories too.
    bool ownsKeyFile() const;

    // Removes every key the state directory owns (never a key file given by the
    // caller that lies elsewhere, which other directories may share) and its identity.
    void forget(int dir, QStringList& warnings);

private:
    std::optional<SecretKey> loadFile(const QByteArray& path, QStringList& warnings) const;
    std::optional<SecretKey> loadEntry(const QString& name, QStringList& warnings);
    void writeEntry(const QString& name, const SecretKey& key);
    void writeKeyFile(const QByteArray& path, const SecretKey& key, bool replace) const;
    void removeFile(const QByteArray& path) const;
    void removeEntry(const QString& name, QStringList& warnings);
    void readIdentity(int dir);
    // The kept entry's name; gives the directory its identity when it has none yet.
    QString keptEntry();
    QByteArray pendingFile() const { return m_keyFile + "-next"; }

    QByteArray m_stateDirectory;
    QByteArray m_keyFile;
    bool m_keyFileGiven;
    SessionStore::KeyStore m_mode;
    SecretStore m_store;
    QString m_legacy;    // the entry's name by path, before directories had an id
    QByteArray m_id;     // this directory's identity; empty when it has none yet
    QByteArray m_copied; // the identity of the directory this one is a copy of
    bool m_identityRead = false;
    int m_dir = -1; // the locked state directory (adopt)
    bool m_storeAnswers = false;
    QString m_unavailable; // why the store could not be asked, when it should have been
    mutable QStringList m_skipped;
    QStringList m_emptyEntries; // entries that held something, but no key
    std::optional<SessionStore::KeyPlace> m_place;
};

} // namespace storage
