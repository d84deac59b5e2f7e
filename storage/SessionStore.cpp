// SPDX-License-Identifier: MIT
#include "SessionStore.h"

#include "ControlProtocol.h"
#include "Envelope.h"
#include "KeyCustody.h"
#include "StateFiles.h"
#include "StoreFailure.h"

#include <DataSets.h>
#include <SessionData.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace storage;

namespace {

const QByteArray kEncryptedName("session.enc");
const QByteArray kPlainName("session.json");
const QByteArray kKeyName("session.key");
const QByteArray kLockName("session.lock");
const QByteArray kIdentityName("session.id");

SessionStore::Error errorOf(const StoreFailure& failure)
{
    return {failure.kind, failure.message};
}

// Runs `f`, turning a failure into the result's error.
template <class Result, class F> Result catching(F&& f)
{
    Result result;
    try {
        f(result);
    } catch (const StoreFailure& failure) {
        result.error = errorOf(failure);
    }
    return result;
}

// The pid the lock file names; 0 when it names none (yet).
long lockHolder(int fd)
{
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    return n > 0 ? std::strtol(buffer, nullptr, 10) : 0;
}

} // namespace

struct SessionStore::Impl
{
    QByteArray dirPath;
    KeyCustody keys;
    Fd dir;

    // What the current lock has seen of the stored files.
    struct Seen
    {
        std::uint64_t generation = 0;
        std::optional<SecretKey> key;
    };
    std::optional<Seen> seen;

    Impl(const QByteArray& dirPath, const Options& options)
        : dirPath(dirPath)
        , keys(dirPath, options.keyFile.isEmpty() ? joinPath(dirPath, kKeyName) : options.keyFile,
               !options.keyFile.isEmpty(), options)
    {}

    QByteArray path(const QByteArray& name) const { return joinPath(dirPath, name); }

    Restored load();
    void finishInterruptedStore();
    void storeLocked(Stored& stored, const SessionData& session);
};

namespace {

// Opens an encrypted file with the first of the kept keys that fits; the failure of
// the first one when none does.
struct OpenedWith
{
    OpenedEncrypted opened;
    const KeyCustody::Candidate* key;
};

OpenedWith openWithKeys(const QByteArray& bytes, const std::vector<KeyCustody::Candidate>& keys,
                        const KeyCustody& custody, const QByteArray& path)
{
    if (keys.empty()) {
        // A key place that held something, but no key, names the fault itself.
        if (!custody.skipped().isEmpty())
            failBadFile(
                QStringLiteral("%1: cannot be decrypted: %2%3")
                    .arg(shown(path), custody.skipped().join(QStringLiteral("; ")), custody.whereElse()));
        failBadFile(
            custody.place().secretStore
                ? QStringLiteral("%1: cannot be decrypted: its key is not in the platform secret store "
                                 "(and there is no key file %2)")
                      .arg(shown(path), shown(custody.path()))
                : QStringLiteral("%1: cannot be decrypted: the key file %2 is missing%3")
                      .arg(shown(path), shown(custody.path()), custody.whereElse()));
    }
    std::optional<StoreFailure> first;
    for (const KeyCustody::Candidate& key : keys) {
        try {
            return {openEncrypted(bytes, key.key, shown(path)), &key};
        } catch (const StoreFailure& failure) {
            if (!first)
                first = failure;
        }
    }
    first->message += custody.whereElse();
    throw *first;
}

// The key custody of a state directory, as a store on it would keep the key.
KeyCustody custodyOf(const QByteArray& dir, const SessionStore::Options& options)
{
    return KeyCustody(dir, options.keyFile.isEmpty() ? joinPath(dir, kKeyName) : options.keyFile,
                      !options.keyFile.isEmpty(), options);
}

// The plain file of a store stopped between its two renames: waiting whole under
// a temporary name, with the pair id of the encrypted file now in place.
struct WaitingPlain
{
    QByteArray name; // its temporary name
    OpenedPlain opened;
};
std::optional<WaitingPlain> waitingPlain(int dir, const QByteArray& dirPath, const QByteArray& encPair)
{
    for (const QByteArray& name : temporaries(dir, dirPath, {kPlainName})) {
        try {
            const QByteArray path = joinPath(dirPath, name);
            const std::optional<FileRead> pending = readStateFile(dir, name, path, maxPlainFileBytes());
            if (!pending)
                continue;
            OpenedPlain opened = openPlain(pending->bytes, shown(path));
            if (opened.pairId == encPair)
                return WaitingPlain{name, std::move(opened)};
        } catch (const StoreFailure&) {
            // a leftover of another store, which the next lock() removes
        }
    }
    return std::nullopt;
}

// A pair that was not written together, told alike by restore and by the lock-free
// reader: each file that opened is used as it is.
void tellUnpaired(SessionStore::Restored& read, const QByteArray& encPath, const QByteArray& plainPath,
                  const QByteArray& encPair, const QByteArray& plainPair)
{
    if (read.encrypted && !read.plain)
        read.warnings
            << QStringLiteral("%1 is missing; only the encrypted part is stored").arg(shown(plainPath));
    if (read.plain && !read.encrypted)
        read.warnings << QStringLiteral("%1 is missing; only the plain part is stored").arg(shown(encPath));
    if (!read.encrypted || !read.plain)
        return;
    const SessionStore::StoredFile& e = *read.encrypted;
    const SessionStore::StoredFile& p = *read.plain;
    if (e.generation != p.generation || e.formatVersion != p.formatVersion || encPair != plainPair)
        read.warnings << QStringLiteral("the stored files were not written together (%1 is generation %2, %3 "
                                        "is generation %4%5); each is read as it is")
                             .arg(shown(encPath))
                             .arg(e.generation)
                             .arg(shown(plainPath))
                             .arg(p.generation)
                             .arg(e.generation == p.generation ? QStringLiteral(", from another store")
                                                               : QString());
}

} // namespace

std::uint64_t SessionStore::Restored::generation() const
{
    return std::max(encrypted ? encrypted->generation : 0, plain ? plain->generation : 0);
}

SessionStore::Lock::Lock(Lock&& other) noexcept
    : m_store(other.m_store)
    , m_fd(std::exchange(other.m_fd, -1))
    , m_error(std::move(other.m_error))
    , m_warnings(std::move(other.m_warnings))
{}

SessionStore::Lock& SessionStore::Lock::operator=(Lock&& other) noexcept
{
    if (this != &other) {
        release();
        m_store = other.m_store;
        m_fd = std::exchange(other.m_fd, -1);
        m_error = std::move(other.m_error);
        m_warnings = std::move(other.m_warnings);
    }
    return *this;
}

SessionStore::Lock::~Lock()
{
    release();
}

void SessionStore::Lock::release()
{
    if (m_fd < 0)
        return;
    m_store->d->seen.reset();
    // Closing the last descriptor of the lock file lets the lock go.
    ::close(std::exchange(m_fd, -1));
}

SessionStore::SessionStore(const QByteArray& stateDirectory, QByteArray keyFile)
    : SessionStore(stateDirectory,
                   Options{KeyStore::Auto, std::move(keyFile), std::chrono::milliseconds(5000)})
{}

SessionStore::SessionStore(const QByteArray& stateDirectory, const Options& options)
    : d(std::make_unique<Impl>(stateDirectory, options))
{}

SessionStore::KeyPlace SessionStore::keyPlace() const
{
    return d->keys.place();
}

SessionStore::~SessionStore() = default;

SessionStore::Directory SessionStore::defaultStateDirectory()
{
    // Bytes as the environment holds them: decoding could name another directory.
    // XDG base directories must be absolute: a relative one is ignored.
    const QByteArray xdg = qgetenv("XDG_STATE_HOME");
    if (xdg.startsWith('/'))
        return {joinPath(xdg, "sessionconfig"), {}};
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return {joinPath(home, ".local/state/sessionconfig"), {}};
    return {{},
            {ErrorKind::NoStateDirectory,
             QStringLiteral("neither HOME nor XDG_STATE_HOME names an absolute directory")}};
}

QByteArray SessionStore::stateDirectory() const
{
    return d->dirPath;
}

QByteArray SessionStore::encryptedPath() const
{
    return d->path(kEncryptedName);
}

QByteArray SessionStore::plainPath() const
{
    return d->path(kPlainName);
}

QByteArray SessionStore::keyPath() const
{
    return d->keys.path();
}

SessionStore::Lock SessionStore::lock(std::chrono::milliseconds wait)
{
    // flock() on a lock file rather than QLockFile: the kernel lets the lock go when
    // its holder dies, so there is no stale lock to judge by age (QLockFile may take
    // a live but slow holder's lock), and it works on a directory descriptor with a
    // file name of any bytes, where QLockFile needs a QString path.
    Lock lock;
    lock.m_store = this;
    try {
        d->keys.checkRequired();
        d->dir = openStateDirectory(d->dirPath, lock.m_warnings);
        const QByteArray lockPath = d->path(kLockName);
        Fd fd(::openat(d->dir.get(), kLockName.constData(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!fd.isOpen())
            failIo(
                QStringLiteral("%1: cannot open the lock file: %2").arg(shown(lockPath), systemError(errno)));
        struct stat st
        {
        };
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            failIo(QStringLiteral("%1: the lock file is not a regular file").arg(shown(lockPath)));
        giveToDirectoryOwner(d->dir.get(), fd.get(), lockPath);

        const auto deadline = std::chrono::steady_clock::now() + wait;
        auto pause = std::chrono::milliseconds(2);
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK)
                failIo(QStringLiteral("%1: cannot lock: %2").arg(shown(lockPath), systemError(errno)));
            if (std::chrono::steady_clock::now() >= deadline) {
                const long holder = lockHolder(fd.get());
                throw StoreFailure{ErrorKind::Busy,
                                   holder > 0
                                       ? QStringLiteral("state directory %1 busy (held by process %2)")
                                             .arg(shown(d->dirPath))
                                             .arg(holder)
                                       : QStringLiteral("state directory %1 busy (held by another process)")
                                             .arg(shown(d->dirPath))};
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
        // The holder's pid, for the message of whoever waits. Only informative: a
        // full disk that refuses these few bytes must not refuse the lock.
        const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
        if (::ftruncate(fd.get(), 0) == 0)
            (void)!::pwrite(fd.get(), pid.constData(), static_cast<size_t>(pid.size()), 0);

        d->finishInterruptedStore();
        // A rotation's or a key move's leftovers too: what an interrupted write left
        // under a temporary name never holds the only copy of a key.
        removeTemporaries(d->dir.get(), d->dirPath,
                          {kEncryptedName, kPlainName, kKeyName, kKeyName + "-next", kIdentityName});
        // The control socket of a client that died (SessionControl): no one answers it
        // any more, and the next client makes its own.
        struct stat socketStat
        {
        };
        if (::fstatat(d->dir.get(), sessionctl::control::kSocketName, &socketStat, AT_SYMLINK_NOFOLLOW) ==
                0 &&
            S_ISSOCK(socketStat.st_mode))
            ::unlinkat(d->dir.get(), sessionctl::control::kSocketName, 0);
        d->keys.adopt(d->dir.get());
        d->keys.settle();
        d->seen.reset();
        lock.m_fd = fd.release();
    } catch (const StoreFailure& failure) {
        lock.m_error = errorOf(failure);
    }
    return lock;
}

// A store writes and syncs both files under temporary names before it renames either,
// the encrypted one first. A store stopped between the two renames so left the new
// encrypted file in place and the new plain file, whole and synced, under its
// temporary name: the pair id tells them apart from an older leftover, and the rename
// that did not happen is made now, so a restore under the lock never meets a mixed
// pair. Anything unusable here is left to restore to report.
void SessionStore::Impl::finishInterruptedStore()
{
    try {
        const std::optional<FileRead> enc =
            readStateFile(dir.get(), kEncryptedName, path(kEncryptedName), maxEncryptedFileBytes());
        const QByteArray encPair = enc ? encryptedPairId(enc->bytes) : QByteArray();
        if (encPair.isEmpty())
            return;
        if (const std::optional<WaitingPlain> waiting = waitingPlain(dir.get(), dirPath, encPair))
            if (::renameat(dir.get(), waiting->name.constData(), dir.get(), kPlainName.constData()) == 0)
                syncDirectory(dir.get(), dirPath);
    } catch (const StoreFailure&) {
    }
}

SessionStore::Restored SessionStore::Impl::load()
{
    Restored restored;
    const QByteArray encPath = path(kEncryptedName);
    const QByteArray plainPath = path(kPlainName);
    std::optional<FileRead> encFile =
        readStateFile(dir.get(), kEncryptedName, encPath, maxEncryptedFileBytes());
    const std::optional<FileRead> plainFile =
        readStateFile(dir.get(), kPlainName, plainPath, maxPlainFileBytes());

    Seen now;
    QByteArray encPair;
    QByteArray plainPair;
    const std::vector<KeyCustody::Candidate> candidates = keys.candidates(restored.warnings);
    const KeyCustody::Candidate* openedBy = nullptr;
    if (encFile) {
        const OpenedWith with = openWithKeys(encFile->bytes, candidates, keys, encPath);
        const OpenedEncrypted& opened = with.opened;
        restored.encrypted = StoredFile{encPath, true, opened.formatVersion, opened.generation,
                                        decodeSealedSet(opened.payload, shown(encPath))};
        encPair = opened.pairId;
        now.key = with.key->key;
        openedBy = with.key;
    }
    if (plainFile) {
        OpenedPlain opened = openPlain(plainFile->bytes, shown(plainPath));
        restored.plain =
            StoredFile{plainPath, false, opened.formatVersion, opened.generation, opened.session};
        plainPair = opened.pairId;
    }

    tellUnpaired(restored, encPath, plainPath, encPair, plainPair);
    // Only once everything stored proved usable.
    keys.tidy(candidates, openedBy, restored.warnings);
    now.generation = restored.generation();
    seen = std::move(now);
    return restored;
}

namespace {

void requireHeld(const SessionStore::Lock& lock, bool ours)
{
    if (!lock.isHeld() || !ours)
        throw StoreFailure{SessionStore::ErrorKind::Busy,
                           QStringLiteral("the state directory is not locked by this store")};
}

} // namespace

SessionStore::Restored SessionStore::restore(const Lock& lock, SessionData& session)
{
    Restored restored;
    try {
        requireHeld(lock, lock.m_store == this);
        restored = d->load();
    } catch (const StoreFailure& failure) {
        return Restored{{}, {}, {}, errorOf(failure)};
    }
    // Both files were usable: only now does the session take anything.
    if (restored.encrypted)
        session.deserializeEncrypted(restored.encrypted->data);
    if (restored.plain)
        session.deserializeUnencrypted(restored.plain->data);
    return restored;
}

void SessionStore::Impl::storeLocked(Stored& stored, const SessionData& session)
{
    if (!seen)
        load();
    const std::uint64_t previous = seen->generation;
    if (previous == std::numeric_limits<std::uint64_t>::max())
        failBadFile(QStringLiteral("%1: generation %2 is the largest a store can count to; nothing was "
                                   "stored")
                        .arg(shown(path(kEncryptedName)))
                        .arg(previous));
    // What the stored form would lose without a word is not stored at all.
    if (const std::optional<QString> why = session.unstorablePlainPart())
        failIo(QStringLiteral("the plain session cannot be written: %1").arg(*why));
    const std::uint64_t generation = previous + 1;
    const QByteArray pairId = newPairId();
    const QByteArray plain = sealPlain(session.serializeUnencrypted(), generation, pairId);
    const QByteArray cbor = encodeSealedSet(session.serializeEncrypted());

    if (!seen->key)
        seen->key = keys.obtain(stored.warnings);
    // Both written in full before either replaces a stored file; then the
    // encrypted one first, so an interruption between the renames leaves a pair
    // that restore recognises by its generations.
    PendingFile encFile(dir.get(), kEncryptedName, path(kEncryptedName),
                        sealEncrypted(cbor, generation, pairId, *seen->key));
    PendingFile plainFile(dir.get(), kPlainName, path(kPlainName), plain);
    encFile.commit();
    seen->generation = generation;
    try {
        plainFile.commit();
    } catch (const StoreFailure& failure) {
        // The new encrypted file is in place: undoing it could fail the same way. The
        // new plain file waits whole under its temporary name, and the next lock()
        // finishes the pair, as after a kill between the renames.
        plainFile.keep();
        failIo(QStringLiteral("%1; the new %2 waits beside it and the change is completed at the next start")
                   .arg(failure.message, QString::fromLatin1(kPlainName)));
    }
    stored.generation = generation;
    try {
        syncDirectory(dir.get(), dirPath);
    } catch (const StoreFailure& failure) {
        stored.warnings << QStringLiteral("both stored files were replaced, but their durability is not "
                                          "confirmed: %1")
                               .arg(failure.message);
    }
}

SessionStore::Stored SessionStore::store(const Lock& lock, const SessionData& session)
{
    return catching<Stored>([&](Stored& stored) {
        requireHeld(lock, lock.m_store == this);
        d->storeLocked(stored, session);
    });
}

SessionStore::Stored SessionStore::prepareStore(const Lock& lock)
{
    return catching<Stored>([&](Stored& stored) {
        requireHeld(lock, lock.m_store == this);
        if (!d->seen)
            stored.warnings = d->load().warnings;
        if (!d->seen->key)
            d->seen->key = d->keys.obtain(stored.warnings);
        stored.generation = d->seen->generation;
    });
}

SessionStore::Stored SessionStore::rotateKey(const Lock& lock)
{
    return catching<Stored>([&](Stored& stored) {
        requireHeld(lock, lock.m_store == this);
        // Rotating replaces the key file: one that other directories may share is not ours to replace.
        if (!d->keys.settle().secretStore && !d->keys.ownsKeyFile())
            throw StoreFailure{ErrorKind::BadOptions,
                               QStringLiteral("the key file %1 lies outside the state directory and may "
                                              "serve other state directories: rotating would replace it; "
                                              "nothing was changed")
                                   .arg(shown(d->keys.path()))};
        const Restored restored = d->load();
        stored.warnings = restored.warnings;
        if (!restored.encrypted)
            failBadFile(QStringLiteral("%1: nothing is stored, so there is no key to rotate")
                            .arg(shown(d->path(kEncryptedName))));
        SessionData session;
        session.deserializeEncrypted(restored.encrypted->data);
        if (restored.plain)
            session.deserializeUnencrypted(restored.plain->data);
        // The new key is kept under its second name before anything is sealed with
        // it, and replaces the old one only once the stored files are sealed with it.
        const SecretKey key = SecretKey::generate();
        d->keys.keepPending(key);
        d->seen->key = key;
        d->storeLocked(stored, session);
        d->keys.promote(key);
    });
}

SessionStore::Stored SessionStore::forget(const Lock& lock)
{
    return catching<Stored>([&](Stored& stored) {
        requireHeld(lock, lock.m_store == this);
        // The sealed file before its key: never a key gone while its file stays.
        for (const QByteArray& name : {kEncryptedName, kPlainName}) {
            if (::unlinkat(d->dir.get(), name.constData(), 0) != 0 && errno != ENOENT)
                failIo(QStringLiteral("%1: cannot remove: %2").arg(shown(d->path(name)), systemError(errno)));
        }
        syncDirectory(d->dir.get(), d->dirPath);
        d->keys.forget(d->dir.get(), stored.warnings);
        d->seen.reset();
    });
}

SessionStore::ReadFile SessionStore::readFile(const QByteArray& path, const QByteArray& keyFile)
{
    return readFile(path, Options{KeyStore::Auto, keyFile, std::chrono::milliseconds(5000)});
}

SessionStore::ReadFile SessionStore::readFile(const QByteArray& path, const Options& options)
{
    return catching<ReadFile>([&](ReadFile& read) {
        const PathParts parts = splitPath(path);
        const std::optional<Fd> dir = openDirectory(parts.dir);
        const std::optional<FileRead> file =
            dir ? readStateFile(dir->get(), parts.name, path,
                                std::max(maxPlainFileBytes(), maxEncryptedFileBytes()))
                : std::nullopt;
        if (!file)
            failIo(QStringLiteral("%1: cannot read: %2").arg(shown(path), systemError(ENOENT)));
        read.file.path = path;
        read.file.encrypted = isEncryptedFile(file->bytes);
        if (!read.file.encrypted) {
            OpenedPlain opened = openPlain(file->bytes, shown(path));
            read.file.formatVersion = opened.formatVersion;
            read.file.generation = opened.generation;
            read.file.data = opened.session;
            return;
        }
        KeyCustody keys = custodyOf(parts.dir, options);
        read.keyPlace = keys.settle();
        // A rotation may replace the file and its key between the two reads: read
        // both again before calling the file altered.
        QByteArray bytes = file->bytes;
        for (int attempt = 1;; ++attempt) {
            QStringList warnings;
            try {
                const OpenedEncrypted opened =
                    openWithKeys(bytes, keys.candidates(warnings), keys, path).opened;
                read.warnings << warnings;
                read.file.formatVersion = opened.formatVersion;
                read.file.generation = opened.generation;
                read.file.data = decodeSealedSet(opened.payload, shown(path));
                return;
            } catch (const StoreFailure&) {
                if (attempt == 3)
                    throw;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
            const std::optional<FileRead> now =
                readStateFile(dir->get(), parts.name, path, maxEncryptedFileBytes());
            if (!now)
                failIo(QStringLiteral("%1: cannot read: %2").arg(shown(path), systemError(ENOENT)));
            bytes = now->bytes;
        }
    });
}

SessionStore::ReadStored SessionStore::readStored(const QByteArray& stateDirectory, const Options& options)
{
    return catching<ReadStored>([&](ReadStored& read) {
        const std::optional<Fd> dir = openDirectory(stateDirectory);
        if (!dir)
            return;
        const QByteArray encPath = joinPath(stateDirectory, kEncryptedName);
        const QByteArray plainPath = joinPath(stateDirectory, kPlainName);
        std::optional<FileRead> enc;
        std::optional<OpenedPlain> plain;
        // A store renames the encrypted file, then the plain one: a look between the
        // two renames, or across a whole store, sees files of two stores. Each file
        // is replaced whole, so looking again soon sees one pair; no lock is waited for.
        for (int look = 0; look < 3; ++look) {
            enc = readStateFile(dir->get(), kEncryptedName, encPath, maxEncryptedFileBytes());
            const std::optional<FileRead> plainFile =
                readStateFile(dir->get(), kPlainName, plainPath, maxPlainFileBytes());
            plain.reset();
            if (plainFile)
                plain = openPlain(plainFile->bytes, shown(plainPath));
            const QByteArray encPair = enc ? encryptedPairId(enc->bytes) : QByteArray();
            if (encPair.isEmpty() || (plain && plain->pairId == encPair))
                break;
            if (std::optional<WaitingPlain> waiting = waitingPlain(dir->get(), stateDirectory, encPair)) {
                plain = std::move(waiting->opened);
                break;
            }
        }
        QByteArray encPair;
        if (enc) {
            KeyCustody keys = custodyOf(stateDirectory, options);
            read.keyPlace = keys.settle();
            const OpenedEncrypted opened =
                openWithKeys(enc->bytes, keys.candidates(read.warnings), keys, encPath).opened;
            read.encrypted = StoredFile{encPath, true, opened.formatVersion, opened.generation,
                                        decodeSealedSet(opened.payload, shown(encPath))};
            encPair = opened.pairId;
        }
        if (plain)
            read.plain =
                StoredFile{plainPath, false, plain->formatVersion, plain->generation, plain->session};
        tellUnpaired(read, encPath, plainPath, encPair, plain ? plain->pairId : QByteArray());
    });
}
