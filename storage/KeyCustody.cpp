// SPDX-License-Identifier: MIT
#include "KeyCustody.h"

#include "StateFiles.h"
#include "StoreFailure.h"

#include <sodium.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

// Anything larger cannot be a key; read enough to say how large it is.
constexpr qint64 kMaxKeyFileBytes = 4096;
const QByteArray kIdentityName("session.id");

// The state directory as the entry's name before directories had an identity:
// resolved, and percent-encoded so that a name of any bytes stays lossless text.
QString legacyEntryOf(const QByteArray& dir)
{
    char resolved[PATH_MAX];
    const QByteArray canonical = ::realpath(dir.constData(), resolved) ? QByteArray(resolved) : dir;
    return QString::fromLatin1(canonical.toPercentEncoding("/"));
}

QString entryOf(const QByteArray& id)
{
    return QStringLiteral("directory ") + QString::fromLatin1(id);
}

QString nextOf(const QString& entry)
{
    return entry + QStringLiteral(" next");
}

// A directory's identity: its id, and the directory (device and inode) it was given to,
// so that a copy, which is another directory, is told apart from a rename or a second
// path (a bind mount) to the same one.
QByteArray identityText(const QByteArray& id, const struct stat& dir)
{
    return id + ' ' + QByteArray::number(static_cast<qulonglong>(dir.st_dev)) + ' ' +
           QByteArray::number(static_cast<qulonglong>(dir.st_ino)) + '\n';
}

const KeyCustody::Candidate* find(const std::vector<KeyCustody::Candidate>& all, KeyCustody::Source source)
{
    for (const KeyCustody::Candidate& c : all)
        if (c.source == source)
            return &c;
    return nullptr;
}

struct stat statOf(int fd, const QByteArray& path)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        failIo(QStringLiteral("%1: cannot examine: %2").arg(shown(path), systemError(errno)));
    return st;
}

bool sameFile(const QByteArray& a, const QByteArray& b)
{
    struct stat sa
    {
    };
    struct stat sb
    {
    };
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// A path's directory resolved, for a directory that may not exist yet (its parent then).
QByteArray resolvedDirectory(const QByteArray& dir)
{
    char resolved[PATH_MAX];
    if (::realpath(dir.constData(), resolved))
        return resolved;
    const PathParts parts = splitPath(dir);
    if (parts.dir != dir && ::realpath(parts.dir.constData(), resolved))
        return joinPath(resolved, parts.name);
    return dir;
}

} // namespace

KeyCustody::KeyCustody(QByteArray stateDirectory, QByteArray keyFile, bool keyFileGiven,
                       const SessionStore::Options& options)
    : m_stateDirectory(std::move(stateDirectory))
    , m_keyFile(std::move(keyFile))
    , m_keyFileGiven(keyFileGiven)
    , m_mode(options.keyStore)
    , m_store(options.secretStoreWait)
{}

[[noreturn]] static void noSecretStore(const QString& reason, const QString& wayOut)
{
    failIo(QStringLiteral("no platform secret store: %1; nothing was changed%2").arg(reason, wayOut));
}

void KeyCustody::checkRequired() const
{
    if (m_keyFileGiven && m_mode == SessionStore::KeyStore::SecretStore)
        failIo(QStringLiteral("a key file cannot be used when the secret store is required"));
    if (m_mode == SessionStore::KeyStore::SecretStore)
        if (const QString reason = SecretStore::cannotAsk(); !reason.isEmpty())
            noSecretStore(reason, {});
    if (!m_keyFileGiven)
        return;
    // A key file that is one of the state files would overwrite it, or be overwritten
    // by the next store: either way the encrypted half could never be opened again.
    const PathParts key = splitPath(m_keyFile);
    const bool inStateDirectory = resolvedDirectory(key.dir) == resolvedDirectory(m_stateDirectory);
    for (const char* name : {"session.enc", "session.json", "session.lock", "session.id"}) {
        const QByteArray stateFile = joinPath(m_stateDirectory, name);
        if ((inStateDirectory && (key.name == name || key.name.startsWith(QByteArray(name) + '.'))) ||
            sameFile(m_keyFile, stateFile))
            throw StoreFailure{
                SessionStore::ErrorKind::BadOptions,
                QStringLiteral("the key file %1 would be the state file %2: give a key file of "
                               "its own; nothing was changed")
                    .arg(shown(m_keyFile), shown(stateFile))};
    }
}

bool KeyCustody::ownsKeyFile() const
{
    return !m_keyFileGiven || sameFile(splitPath(m_keyFile).dir, m_stateDirectory);
}

void KeyCustody::readIdentity(int dir)
{
    const QByteArray path = joinPath(m_stateDirectory, kIdentityName);
    const std::optional<FileRead> file = readStateFile(dir, kIdentityName, path, 256);
    if (!file)
        return;
    const QList<QByteArray> fields = file->bytes.trimmed().split(' ');
    const QByteArray id = fields.value(0);
    if (fields.size() != 3 || id.size() != 32 || QByteArray::fromHex(id).toHex() != id)
        failBadFile(QStringLiteral("%1: not the identity of a state directory; the key of this directory "
                                   "is named by it, so it is left as it is")
                        .arg(shown(path)));
    const struct stat st = statOf(dir, m_stateDirectory);
    if (fields[1].toULongLong() == static_cast<qulonglong>(st.st_dev) &&
        fields[2].toULongLong() == static_cast<qulonglong>(st.st_ino))
        m_id = id;
    else
        m_copied = id; // a copy (or a move to another file system): it reads the original's entry
}

void KeyCustody::adopt(int dir)
{
    m_dir = dir;
    m_id.clear();
    m_copied.clear();
    readIdentity(dir);
    m_identityRead = true;
}

QString KeyCustody::keptEntry()
{
    if (!m_id.isEmpty())
        return entryOf(m_id);
    if (m_dir < 0)
        failIo(QStringLiteral("the state directory has no identity yet")); // only under a lock
    // The first entry of this directory: give it an identity of its own.
    unsigned char random[16];
    randombytes_buf(random, sizeof random);
    const QByteArray id = QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex();
    PendingFile file(m_dir, kIdentityName, joinPath(m_stateDirectory, kIdentityName),
                     identityText(id, statOf(m_dir, m_stateDirectory)));
    file.commit();
    syncDirectory(m_dir, m_stateDirectory);
    m_id = id;
    return entryOf(m_id);
}

const SessionStore::KeyPlace& KeyCustody::settle()
{
    if (m_place)
        return *m_place;
    checkRequired();
    m_legacy = legacyEntryOf(m_stateDirectory);
    if (!m_identityRead) {
        if (const std::optional<Fd> dir = openDirectory(m_stateDirectory))
            readIdentity(dir->get());
        m_identityRead = true;
    }
    if (m_keyFileGiven || m_mode == SessionStore::KeyStore::File) {
        m_place = {false, m_keyFile, QStringLiteral("a key file was chosen")};
        return *m_place;
    }
    const SecretStore::Probe probe = m_store.probe();
    m_storeAnswers = probe.state != SecretStore::Probe::Unavailable;
    if (probe.state != SecretStore::Probe::Keeps) {
        if (m_mode == SessionStore::KeyStore::SecretStore) {
            QStringList ignored;
            noSecretStore(probe.reason,
                          loadFile(m_keyFile, ignored)
                              ? QStringLiteral(" (the key file %1 exists: --key-store file uses it)")
                                    .arg(shown(m_keyFile))
                              : QString());
        }
        m_place = {false, m_keyFile, probe.reason};
        m_unavailable = m_storeAnswers ? QString() : probe.reason;
    } else {
        m_place = {true, {}, {}};
    }
    return *m_place;
}

QString KeyCustody::whereElse() const
{
    if (m_unavailable.isEmpty())
        return {};
    return QStringLiteral(" (the platform secret store, which may keep its key, could not be asked: %1)")
        .arg(m_unavailable);
}

std::optional<SecretKey> KeyCustody::loadFile(const QByteArray& path, QStringList& warnings) const
{
    const PathParts parts = splitPath(path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        return std::nullopt;
    std::optional<FileRead> file = readStateFile(dir->get(), parts.name, path, kMaxKeyFileBytes);
    if (!file)
        return std::nullopt;
    std::optional<SecretKey> key;
    try {
        key = SecretKey::fromBytes(file->bytes, shown(path));
    } catch (const StoreFailure& failure) {
        m_skipped << failure.message;
    }
    wipe(file->bytes);
    if (key && (file->mode & 077) != 0 && m_dir < 0) {
        // A read changes nothing: the next writing command tightens it.
        warnings << QStringLiteral("the key file %1 can be read by others (mode %2): the key may have been "
                                   "exposed")
                        .arg(shown(path))
                        .arg(file->mode & 07777, 4, 8, QLatin1Char('0'));
    } else if (key && (file->mode & 077) != 0) {
        if (::fchmod(file->fd.get(), 0600) != 0)
            failIo(QStringLiteral("%1: cannot make the key file owner-only: %2")
                       .arg(shown(path), systemError(errno)));
        warnings << QStringLiteral("the key file %1 could be read by others (mode %2); it is now owner-only "
                                   "(0600), but the key may have been exposed")
                        .arg(shown(path))
                        .arg(file->mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return key;
}

std::optional<SecretKey> KeyCustody::loadEntry(const QString& name, QStringList& warnings)
{
    if (!m_storeAnswers)
        return std::nullopt;
    SecretAnswer answer = m_store.read(name);
    if (answer.state == SecretAnswer::Unavailable) {
        // The other places may still hold the key: say why the store was left out.
        m_storeAnswers = false;
        m_unavailable = answer.reason;
        warnings << QStringLiteral("the secret store stopped answering: %1").arg(answer.reason);
        return std::nullopt;
    }
    if (answer.state == SecretAnswer::Missing)
        return std::nullopt;
    std::optional<SecretKey> key;
    try {
        key = SecretKey::fromBytes(answer.bytes, QStringLiteral("the secret store entry \"%1\"").arg(name));
    } catch (const StoreFailure& failure) {
        warnings << failure.message + QStringLiteral("; it is skipped");
        m_skipped << failure.message;
        m_emptyEntries << name;
    }
    wipe(answer.bytes);
    return key;
}

void KeyCustody::writeEntry(const QString& name, const SecretKey& key)
{
    // Read back and compared: only a key known to be kept may seal or replace anything.
    QByteArray bytes = key.toBytes();
    const QString error = m_store.write(name, bytes);
    wipe(bytes);
    if (!error.isEmpty())
        failIo(QStringLiteral("cannot keep the key in the secret store: %1").arg(error));
    SecretAnswer back = m_store.read(name);
    const bool same = back.state == SecretAnswer::Found && back.bytes.size() == SecretKey::kSize &&
                      sodium_memcmp(back.bytes.constData(), key.data(), SecretKey::kSize) == 0;
    wipe(back.bytes);
    if (!same)
        failIo(QStringLiteral("the secret store entry \"%1\" does not read back as written%2")
                   .arg(name, back.reason.isEmpty() ? QString() : QStringLiteral(": ") + back.reason));
}

void KeyCustody::removeEntry(const QString& name, QStringList& warnings)
{
    if (const QString error = m_store.remove(name); !error.isEmpty())
        warnings << QStringLiteral("the secret store entry \"%1\" could not be removed: %2").arg(name, error);
}

void KeyCustody::writeKeyFile(const QByteArray& path, const SecretKey& key, bool replace) const
{
    const PathParts parts = splitPath(path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        failIo(QStringLiteral("%1: cannot create the key file: its directory is missing").arg(shown(path)));
    QByteArray bytes = key.toBytes();
    PendingFile file(dir->get(), parts.name, path, bytes);
    wipe(bytes);
    if (replace)
        file.commit();
    else if (!file.commitIfAbsent())
        return;
    syncDirectory(dir->get(), parts.dir);
}

void KeyCustody::removeFile(const QByteArray& path) const
{
    const PathParts parts = splitPath(path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        return;
    if (::unlinkat(dir->get(), parts.name.constData(), 0) != 0) {
        if (errno == ENOENT)
            return;
        failIo(QStringLiteral("%1: cannot remove: %2").arg(shown(path), systemError(errno)));
    }
    syncDirectory(dir->get(), parts.dir);
}

std::vector<KeyCustody::Candidate> KeyCustody::candidates(QStringList& warnings)
{
    settle();
    m_skipped.clear();
    m_emptyEntries.clear();
    std::vector<Candidate> all;
    const auto entry = [&](const QString& name, Source source, bool owned = true) {
        if (std::optional<SecretKey> key = loadEntry(name, warnings))
            all.push_back({*key, source, name, owned});
    };
    const auto file = [&](const QByteArray& path, Source source) {
        if (std::optional<SecretKey> key = loadFile(path, warnings))
            all.push_back({*key, source, {}, true});
    };
    // Newest first: a rotation's pending key seals the files once it is kept anywhere.
    if (!m_id.isEmpty())
        entry(nextOf(entryOf(m_id)), Source::PendingEntry);
    file(pendingFile(), Source::PendingFile);
    if (!m_id.isEmpty())
        entry(entryOf(m_id), Source::KeptEntry);
    if (!find(all, Source::KeptEntry)) {
        // The entry of the directory this one was copied from stays the original's.
        if (!m_copied.isEmpty()) {
            entry(nextOf(entryOf(m_copied)), Source::EarlierEntry, false);
            entry(entryOf(m_copied), Source::EarlierEntry, false);
        }
        entry(nextOf(m_legacy), Source::EarlierEntry);
        entry(m_legacy, Source::EarlierEntry);
    }
    file(m_keyFile, Source::KeptFile);
    return all;
}

QStringList KeyCustody::skipped() const
{
    return m_skipped;
}

void KeyCustody::tidy(const std::vector<Candidate>& candidates, const Candidate* opened,
                      QStringList& warnings)
{
    const Candidate* keptEntryKey = find(candidates, Source::KeptEntry);
    if (!opened) {
        // Nothing stored: a kept key serves the next store; a pending one opens nothing.
        if (m_place->secretStore && !keptEntryKey) {
            for (const Candidate& c : candidates) {
                if (c.source != Source::KeptFile && c.source != Source::EarlierEntry)
                    continue;
                opened = &c; // moved into the store below, as after an open
                break;
            }
        }
        if (!opened) {
            for (const Candidate& c : candidates) {
                if (c.source == Source::PendingEntry)
                    removeEntry(c.entry, warnings);
                else if (c.source == Source::PendingFile)
                    removeFile(pendingFile());
            }
            return;
        }
    }
    const SecretKey key = opened->key;
    const bool rotated = opened->source == Source::PendingEntry || opened->source == Source::PendingFile;
    if (m_place->secretStore && opened->source != Source::KeptEntry) {
        try {
            writeEntry(keptEntry(), key);
        } catch (const StoreFailure& failure) {
            // The key stays where it is; this run keeps it in the key file.
            m_place = {false, m_keyFile,
                       QStringLiteral("the key could not be moved there: ") + failure.message};
        }
    }
    if (!m_place->secretStore) {
        if (opened->source == Source::PendingFile)
            promote(key);
        else if (opened->source != Source::KeptFile)
            writeKeyFile(m_keyFile, key, true); // from an entry the store may not keep
    }
    // An entry of this directory that holds no key only hides the real one.
    if (m_storeAnswers)
        for (const QString& name : m_emptyEntries)
            if ((m_id.isEmpty() || name != entryOf(m_id)) &&
                (m_copied.isEmpty() || !name.startsWith(entryOf(m_copied))))
                removeEntry(name, warnings);
    // Only the key that opened the session is kept, in the place settled.
    for (const Candidate& c : candidates) {
        const bool isKept =
            m_place->secretStore ? c.source == Source::KeptEntry : c.source == Source::KeptFile;
        if (isKept || (c.source == Source::EarlierEntry && !c.owned))
            continue;
        switch (c.source) {
        case Source::PendingEntry:
        case Source::EarlierEntry:
            if (m_storeAnswers)
                removeEntry(c.entry, warnings);
            break;
        case Source::PendingFile:
            removeFile(pendingFile());
            break;
        case Source::KeptEntry:
            break; // a store that forgets keys: the entry is no longer relied on
        case Source::KeptFile:
            // The move into the store is complete, or a rotation replaced the key.
            if (c.key == key || (rotated && ownsKeyFile()))
                removeFile(m_keyFile);
            else
                warnings << QStringLiteral(
                                "the key file %1 does not open the stored session; it is left as it is")
                                .arg(shown(m_keyFile));
            break;
        }
    }
}

SecretKey KeyCustody::obtain(QStringList& warnings)
{
    if (settle().secretStore) {
        QStringList ignored;
        if (std::optional<SecretKey> kept = m_id.isEmpty() ? std::nullopt : loadEntry(entryOf(m_id), ignored))
            return *kept;
        SecretKey key = SecretKey::generate();
        try {
            writeEntry(keptEntry(), key);
            return key;
        } catch (const StoreFailure& failure) {
            if (m_mode == SessionStore::KeyStore::SecretStore)
                throw;
            // Nothing is sealed yet: the key file serves as well, and says so.
            m_place = {false, m_keyFile,
                       QStringLiteral("the key could not be kept there: ") + failure.message};
        }
    }
    if (std::optional<SecretKey> kept = loadFile(m_keyFile, warnings))
        return *kept;
    // Never replaces: a key file that appeared meanwhile may already seal a session.
    writeKeyFile(m_keyFile, SecretKey::generate(), false);
    if (std::optional<SecretKey> kept = loadFile(m_keyFile, warnings))
        return *kept;
    failIo(QStringLiteral("%1: the key file vanished while it was created").arg(shown(m_keyFile)));
}

void KeyCustody::keepPending(const SecretKey& key)
{
    if (settle().secretStore)
        writeEntry(nextOf(keptEntry()), key);
    else
        writeKeyFile(pendingFile(), key, true);
}

void KeyCustody::promote(const SecretKey& key)
{
    if (settle().secretStore) {
        writeEntry(keptEntry(), key);
        QStringList ignored; // one left behind goes at the next run
        removeEntry(nextOf(keptEntry()), ignored);
        return;
    }
    // One rename: the key file holds the old key or the new one, never neither.
    const PathParts from = splitPath(pendingFile());
    const PathParts to = splitPath(m_keyFile);
    const std::optional<Fd> dir = openDirectory(to.dir);
    if (!dir || ::renameat(dir->get(), from.name.constData(), dir->get(), to.name.constData()) != 0)
        failIo(QStringLiteral("%1: cannot replace: %2")
                   .arg(shown(m_keyFile), systemError(dir ? errno : ENOENT)));
    syncDirectory(dir->get(), to.dir);
}

void KeyCustody::forget(int dir, QStringList& warnings)
{
    if (ownsKeyFile()) {
        removeFile(pendingFile());
        removeFile(m_keyFile);
    } else if (loadFile(m_keyFile, warnings)) {
        warnings << QStringLiteral(
                        "the key file %1 lies outside the state directory and may serve other state "
                        "directories: it is left in place")
                        .arg(shown(m_keyFile));
    }
    settle();
    QStringList names = {nextOf(m_legacy), m_legacy};
    if (!m_id.isEmpty())
        names = QStringList{nextOf(entryOf(m_id)), entryOf(m_id)} + names;
    if (m_storeAnswers) {
        for (const QString& name : names)
            if (const QString error = m_store.remove(name); !error.isEmpty())
                failIo(QStringLiteral("cannot remove the secret store entry \"%1\": %2").arg(name, error));
    } else if (m_keyFileGiven || m_mode == SessionStore::KeyStore::File) {
        // With a key file chosen the store is still asked, but its absence is no news.
        for (const QString& name : names)
            m_store.remove(name);
    } else if (!m_id.isEmpty()) {
        // Only a directory with an identity ever had an entry made under that identity.
        warnings << QStringLiteral(
                        "the secret store was not reachable (%1): an entry of this state directory "
                        "may remain there")
                        .arg(m_place->reason);
    }
    // The identity goes last: an entry still named by it can be found until then.
    if (::unlinkat(dir, kIdentityName.constData(), 0) != 0 && errno != ENOENT)
        failIo(QStringLiteral("%1: cannot remove: %2")
                   .arg(shown(joinPath(m_stateDirectory, kIdentityName)), systemError(errno)));
}

} // namespace storage
