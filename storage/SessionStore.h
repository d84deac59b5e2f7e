// SPDX-License-Identifier: MIT
#pragma once

#include "storage_export.h"

#include <DataSets.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

class SessionData;

// SessionStore: a client's session on disk, restored at start and stored at shutdown.
//
// A state directory holds
//   session.enc   the encrypted data set, sealed with the data key
//   session.json  the plain data set
//   session.key   the data key, only when it is not kept in the platform secret
//                 store (and unless the store is given another key file)
//   session.lock  the lock of the one process that may write the directory
//   session.id    the directory's identity, which names its entry in the secret store
// Files are owner-only (0600), the directory 0700. Each store replaces a file
// atomically (written to a temporary file, synced, renamed over the old one, then the
// directory synced), so a reader sees the old or the new file, never a mix. Both
// files are written in full before either is renamed; a store stopped between the
// two renames is finished by the next lock(), so a restore never meets a mixed pair.
//
// Usage: take the lock, restore into a new session, work, store, let the lock go.
//
//   SessionStore store(SessionStore::defaultStateDirectory().path);
//   SessionStore::Lock lock = store.lock();          // waits up to five seconds
//   if (lock.error()) ... busy or unusable directory
//   SessionData session;
//   const SessionStore::Restored restored = store.restore(lock, session);
//   ...
//   const SessionStore::Stored stored = store.store(lock, session);
//
// Nothing is printed and nothing ends the process: every outcome is a value, with
// one line per warning and error naming the file and the system's error. Paths are
// bytes, passed to the system as given, so any file name the shell can name works.
//
// Thread safety: one SessionStore and its Lock belong to one thread at a time: calls
// never overlap, and a store handed to another thread is no longer used by the first.
// Two SessionStore objects on one directory (in one process or in two) exclude each
// other through the lock. Reading a single stored file (readFile) or the stored pair
// (readStored) needs no lock.
//
// The data key lives in the platform secret store when one answers (see KeyStore);
// asking it needs a QCoreApplication, and the calls that may ask it (lock, restore,
// store, rotateKey, forget, readFile, readStored, prepareStore) must be made on the
// application's thread, where they run a local event loop for at most
// Options::secretStoreWait per question. Without an application object, or from
// another thread, the key file is used. Once prepareStore() succeeded under a lock,
// store() under that lock asks the secret store nothing and may run on any one thread
// at a time (SessionAutosave runs it on a thread of its own, and is then the store's
// only user until it is destroyed); restore, rotateKey and forget may ask again and
// stay on the application's thread.
class STORAGE_EXPORT SessionStore
{
public:
    // What kind of failure an outcome reports.
    enum class ErrorKind {
        None,             // no failure
        BadStoredFile,    // a stored file or the key cannot be used; nothing was changed
        Io,               // a file or directory cannot be read or written
        Busy,             // another process holds the state directory's lock
        NoStateDirectory, // no state directory can be derived from the environment
        BadOptions,       // the options cannot work (a key file that is a state file); nothing was changed
    };

    // The failure of an outcome, if any.
    struct Error
    {
        ErrorKind kind = ErrorKind::None; // None when all went well
        QString message;                  // one line naming the file and the system's error
        // True when there was a failure.
        explicit operator bool() const { return kind != ErrorKind::None; }
    };

    // Where the data key is kept.
    enum class KeyStore {
        Auto,        // the platform secret store when one answers, else the key file
        SecretStore, // the platform secret store only; an error when none answers
        File,        // the key file only
    };

    // How a store finds and keeps its key.
    struct Options
    {
        KeyStore keyStore = KeyStore::Auto; // where the data key is kept
        // A key file of the caller's choice (then the key file is used, as with File);
        // empty means session.key inside the state directory.
        QByteArray keyFile;
        // How long the secret store may take to answer one question.
        std::chrono::milliseconds secretStoreWait{5000};
    };

    // Where the key was found to live.
    struct KeyPlace
    {
        bool secretStore = false; // true when in the platform secret store
        QByteArray keyFile;       // when it lives in a file
        QString reason;           // why not in the secret store
    };

    // One stored file as read back.
    struct StoredFile
    {
        QByteArray path;                 // the file as named
        bool encrypted = false;          // session.enc rather than session.json
        std::uint32_t formatVersion = 0; // the stored form's version
        std::uint64_t generation = 0;    // counts the stores of the state directory
        DataSets::DataSet data;          // the stored data set
    };

    // What restore found.
    struct Restored
    {
        std::optional<StoredFile> encrypted; // session.enc, when stored
        std::optional<StoredFile> plain;     // session.json, when stored
        // Things a restore found odd but could still use, one line each.
        QStringList warnings;
        Error error; // the failure, if any

        // True when nothing was stored.
        bool isEmpty() const { return !encrypted && !plain; }
        // The newest generation found; 0 when nothing was stored.
        std::uint64_t generation() const;
    };

    // What store, rotateKey and forget did.
    struct Stored
    {
        std::uint64_t generation = 0; // the generation now stored
        QStringList warnings;         // things done in passing, one line each
        Error error;                  // the failure, if any; then no stored file changed
    };

    // What readFile found.
    struct ReadFile
    {
        StoredFile file;      // the file's content, when readable
        QStringList warnings; // things readFile found odd but could still use
        Error error;          // the failure, if any
        // Where the key was found (encrypted files only).
        std::optional<KeyPlace> keyPlace;
    };

    // What readStored found: the pair as the next restore would bring it back, and
    // where the key was found (when something encrypted is stored).
    struct ReadStored : Restored
    {
        std::optional<KeyPlace> keyPlace; // where the key was found
    };

    // A state directory derived from the environment.
    struct Directory
    {
        QByteArray path; // absolute, as bytes
        Error error;     // NoStateDirectory when none can be derived
    };

    // The exclusive right to restore and store one state directory. Move-only; the
    // lock goes when the object does (and when the process dies, whatever the cause).
    // It must not outlive the SessionStore that made it.
    class STORAGE_EXPORT Lock
    {
    public:
        // Takes over the other's lock, which then holds nothing.
        Lock(Lock&& other) noexcept;
        // Lets this lock go, then takes over the other's.
        Lock& operator=(Lock&& other) noexcept;
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        ~Lock();

        // True while the lock is held.
        bool isHeld() const { return m_fd >= 0; }
        // Why the lock could not be taken (Busy, Io), if it was not.
        const Error& error() const { return m_error; }
        // Housekeeping done on taking the lock (a directory tightened, for example).
        const QStringList& warnings() const { return m_warnings; }
        // Lets the lock go now; idempotent.
        void release();

    private:
        friend class SessionStore;
        Lock() = default;
        const SessionStore* m_store = nullptr;
        int m_fd = -1;
        Error m_error;
        QStringList m_warnings;
    };

    // How long lock() waits for another holder by default.
    static constexpr std::chrono::milliseconds kDefaultLockWait{5000};

    // An empty key file means session.key inside the state directory.
    explicit SessionStore(const QByteArray& stateDirectory, QByteArray keyFile = {});
    // A store on `stateDirectory` that keeps its key as `options` say.
    SessionStore(const QByteArray& stateDirectory, const Options& options);
    ~SessionStore();
    SessionStore(const SessionStore&) = delete;
    SessionStore& operator=(const SessionStore&) = delete;

    // $XDG_STATE_HOME/sessionconfig, or $HOME/.local/state/sessionconfig; both must be
    // absolute. Error NoStateDirectory when neither is usable.
    static Directory defaultStateDirectory();

    // The state directory and the paths of its files, as bytes.
    //@{
    QByteArray stateDirectory() const;
    QByteArray encryptedPath() const;
    QByteArray plainPath() const;
    QByteArray keyPath() const;
    //@}

    // Creates the state directory when missing (0700; an existing one of the caller's
    // own that is open to others is tightened, with a warning; a shared one, or another
    // user's unless the caller is root, is refused), then takes its lock, waiting at
    // most `wait`. Under the lock, a store interrupted between its renames is finished,
    // temporary files are removed and the place of the key is settled (an I/O error
    // when the secret store is required and none answers: no stored file is changed).
    Lock lock(std::chrono::milliseconds wait = kDefaultLockWait);

    // Where the key lives, as settled by lock().
    KeyPlace keyPlace() const;

    // Reads both stored files into `session`. A file that cannot be used is an
    // error and `session` is left alone; a pair not written together is restored
    // with a warning.
    Restored restore(const Lock& lock, SessionData& session);

    // Stores both halves of `session` under the next generation, the key first when
    // there is none yet. Restores nothing; when nothing was restored under this lock,
    // the stored generation is read first. A failure before the first rename leaves the
    // stored files as they were; one at the second leaves the new plain file waiting,
    // for the next lock() to finish the pair (the error says so). A failed directory
    // sync after both renames is a warning: the files were replaced.
    Stored store(const Lock& lock, const SessionData& session);

    // Makes later store() calls under `lock` independent of the secret store, so that
    // they may run on another thread: reads the stored generation when nothing was
    // restored under this lock, and makes the data key ready (the kept one, or a new
    // one, kept before it is used, when none exists yet). On the application's thread.
    // Writes no session file; the generation returned is the one stored now.
    Stored prepareStore(const Lock& lock);

    // Seals the stored session with a new key and keeps that key in place of the old
    // one. A kill at any moment leaves stored files that open with a kept key. An
    // error (bad stored file) when nothing is stored.
    Stored rotateKey(const Lock& lock);

    // Removes both stored files, the keys the state directory owns (its key file, its
    // entries in the secret store) and its identity; the lock file and the directory
    // stay. A key file given by the caller outside the state directory is left, with a
    // warning: other directories may share it. Nothing stored is no error: a second
    // forget succeeds too.
    Stored forget(const Lock& lock);

    // One stored file, plain or encrypted; the key is needed for the encrypted one
    // and is looked for as a store on the file's directory would (an empty key file
    // means session.key beside the file). No lock is taken and nothing is changed.
    static ReadFile readFile(const QByteArray& path, const QByteArray& keyFile = {});
    // As above, with the key looked for as `options` say.
    static ReadFile readFile(const QByteArray& path, const Options& options);

    // The stored pair of `stateDirectory` as the next restore would find it, read
    // without the lock and without waiting for one, creating and changing nothing: no
    // directory, no lock file, no directory tightened, no key moved (a key file others
    // could read is made owner-only, as readFile does). A pair caught in the
    // middle of a store is read again; the plain file of an interrupted store, waiting
    // whole under its temporary name, is read in place of the stored one, as the next
    // lock() will put it there. A missing directory or no stored file is no error:
    // then the result is empty.
    static ReadStored readStored(const QByteArray& stateDirectory, const Options& options);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
