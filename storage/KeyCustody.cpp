// SPDX-License-Identifier: MIT
#include "KeyCustody.h"

#include "StateFiles.h"
#include "StoreFailure.h"

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

// The state directory as the entry's name: resolved, so that every path to it finds
// the same entry, and percent-encoded, so that a name of any bytes stays lossless text.
QString accountOf(const QByteArray& dir)
{
    char resolved[PATH_MAX];
    const QByteArray canonical = ::realpath(dir.constData(), resolved) ? QByteArray(resolved) : dir;
    return QString::fromLatin1(canonical.toPercentEncoding("/"));
}

const KeyCustody::Candidate* find(const std::vector<KeyCustody::Candidate>& all, KeyCustody::Source source)
{
    for (const KeyCustody::Candidate& c : all)
        if (c.source == source)
            return &c;
    return nullptr;
}

bool sameKey(const SecretKey& a, const SecretKey& b)
{
    return a.toBytes() == b.toBytes();
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

[[noreturn]] static void noSecretStore(const QString& reason)
{
    failIo(QStringLiteral("no platform secret store: %1; nothing was changed").arg(reason));
}

void KeyCustody::checkRequired() const
{
    if (m_keyFileGiven && m_mode == SessionStore::KeyStore::SecretStore)
        failIo(QStringLiteral("a key file cannot be used when the secret store is required"));
    if (m_mode == SessionStore::KeyStore::SecretStore)
        if (const QString reason = SecretStore::cannotAsk(); !reason.isEmpty())
            noSecretStore(reason);
}

const SessionStore::KeyPlace& KeyCustody::settle()
{
    if (m_place)
        return *m_place;
    checkRequired();
    // Named once the directory exists, so that the name is the resolved one.
    m_account = accountOf(m_stateDirectory);
    if (m_keyFileGiven || m_mode == SessionStore::KeyStore::File) {
        m_place = {false, m_keyFile, QStringLiteral("a key file was chosen")};
        return *m_place;
    }
    SecretAnswer probe;
    probe.reason = m_store.whyNotAsk();
    if (probe.reason.isEmpty())
        probe = m_store.read(m_account);
    if (probe.state == SecretAnswer::Unavailable) {
        if (m_mode == SessionStore::KeyStore::SecretStore)
            noSecretStore(probe.reason);
        m_place = {false, m_keyFile, probe.reason};
    } else {
        m_place = {true, {}, {}};
    }
    return *m_place;
}

std::optional<SecretKey> KeyCustody::loadFile(const QByteArray& path, QStringList& warnings) const
{
    const PathParts parts = splitPath(path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        return std::nullopt;
    const std::optional<FileRead> file = readStateFile(dir->get(), parts.name, path, kMaxKeyFileBytes);
    if (!file)
        return std::nullopt;
    SecretKey key = SecretKey::fromBytes(file->bytes, shown(path));
    if ((file->mode & 077) != 0) {
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

std::optional<SecretKey> KeyCustody::loadEntry(const QString& name)
{
    const SecretAnswer answer = m_store.read(name);
    if (answer.state == SecretAnswer::Unavailable)
        failIo(QStringLiteral("the secret store stopped answering: %1").arg(answer.reason));
    if (answer.state == SecretAnswer::Missing)
        return std::nullopt;
    return SecretKey::fromBytes(answer.bytes, QStringLiteral("the secret store entry \"%1\"").arg(name));
}

void KeyCustody::writeEntry(const QString& name, const SecretKey& key)
{
    // Read back and compared: only a key known to be kept may seal or replace anything.
    if (const QString error = m_store.write(name, key.toBytes()); !error.isEmpty())
        failIo(QStringLiteral("cannot keep the key in the secret store: %1").arg(error));
    const SecretAnswer back = m_store.read(name);
    if (back.state != SecretAnswer::Found || back.bytes != key.toBytes())
        failIo(QStringLiteral("the secret store entry \"%1\" does not read back as written%2")
                   .arg(name, back.reason.isEmpty() ? QString() : QStringLiteral(": ") + back.reason));
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
    std::vector<Candidate> all;
    const auto add = [&](std::optional<SecretKey> key, Source source) {
        if (key)
            all.push_back({*key, source});
    };
    if (settle().secretStore) {
        add(loadEntry(m_account), Source::Kept);
        add(loadFile(m_keyFile, warnings), Source::EarlierFile);
        add(loadEntry(pendingEntry()), Source::Pending);
    } else {
        add(loadFile(m_keyFile, warnings), Source::Kept);
        add(loadFile(pendingFile(), warnings), Source::Pending);
    }
    return all;
}

void KeyCustody::migrate(const SecretKey& key, QStringList& warnings)
{
    try {
        writeEntry(m_account, key);
    } catch (const StoreFailure& failure) {
        // The file still holds the key: this run keeps using it.
        m_place = {false, m_keyFile, QStringLiteral("the key could not be moved there: ") + failure.message};
        return;
    }
    try {
        removeFile(m_keyFile);
    } catch (const StoreFailure& failure) {
        warnings << QStringLiteral("the key is now in the secret store, but its old file stays: %1")
                        .arg(failure.message);
    }
}

void KeyCustody::tidy(const std::vector<Candidate>& candidates, std::optional<Source> opened,
                      QStringList& warnings)
{
    const Candidate* kept = find(candidates, Source::Kept);
    const Candidate* pending = find(candidates, Source::Pending);
    if (const Candidate* earlier = find(candidates, Source::EarlierFile)) {
        if (opened == Source::EarlierFile || (!opened && !kept))
            migrate(earlier->key, warnings);
        else if (kept && sameKey(kept->key, earlier->key))
            removeFile(m_keyFile); // a move that stopped before the file went
        else
            warnings << QStringLiteral(
                            "the key file %1 does not open the stored session; it is left as it is")
                            .arg(shown(m_keyFile));
    }
    if (opened == Source::Pending) {
        promote(pending->key);
    } else if (pending) {
        // A rotation that stopped before the session was sealed with its key.
        if (m_place->secretStore)
            m_store.remove(pendingEntry());
        else
            removeFile(pendingFile());
    }
}

SecretKey KeyCustody::obtain(QStringList& warnings)
{
    const bool secret = settle().secretStore;
    if (secret) {
        if (std::optional<SecretKey> kept = loadEntry(m_account))
            return *kept;
        const SecretKey key = SecretKey::generate();
        try {
            writeEntry(m_account, key);
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
    const PathParts parts = splitPath(m_keyFile);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        failIo(
            QStringLiteral("%1: cannot create the key file: its directory is missing").arg(shown(m_keyFile)));
    const SecretKey key = SecretKey::generate();
    // Never replaces: a key file that appeared meanwhile may already seal a session.
    PendingFile file(dir->get(), parts.name, m_keyFile, key.toBytes());
    if (file.commitIfAbsent()) {
        syncDirectory(dir->get(), parts.dir);
        return key;
    }
    if (std::optional<SecretKey> kept = loadFile(m_keyFile, warnings))
        return *kept;
    failIo(QStringLiteral("%1: the key file vanished while it was created").arg(shown(m_keyFile)));
}

void KeyCustody::keepPending(const SecretKey& key)
{
    if (settle().secretStore) {
        writeEntry(pendingEntry(), key);
        return;
    }
    const QByteArray path = pendingFile();
    const PathParts parts = splitPath(path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        failIo(QStringLiteral("%1: cannot create the key file: its directory is missing").arg(shown(path)));
    PendingFile file(dir->get(), parts.name, path, key.toBytes());
    file.commit();
    syncDirectory(dir->get(), parts.dir);
}

void KeyCustody::promote(const SecretKey& key)
{
    if (settle().secretStore) {
        writeEntry(m_account, key);
        m_store.remove(pendingEntry()); // one left behind goes at the next run
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

void KeyCustody::forget(QStringList& warnings)
{
    removeFile(pendingFile());
    removeFile(m_keyFile);
    if (!settle().secretStore) {
        // With a key file chosen the store is still asked, but its absence is no news.
        if (m_keyFileGiven || m_mode == SessionStore::KeyStore::File) {
            for (const QString& name : {pendingEntry(), m_account})
                m_store.remove(name);
            return;
        }
        warnings << QStringLiteral(
                        "the secret store was not reachable (%1): an entry of this state directory "
                        "may remain there")
                        .arg(m_place->reason);
        return;
    }
    for (const QString& name : {pendingEntry(), m_account})
        if (const QString error = m_store.remove(name); !error.isEmpty())
            failIo(QStringLiteral("cannot remove the secret store entry \"%1\": %2").arg(name, error));
}

} // namespace storage
