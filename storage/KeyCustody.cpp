#include "KeyCustody.h"

#include "StateFiles.h"
#include "StoreFailure.h"

#include <sys/stat.h>

namespace storage {

namespace {

// Anything larger cannot be a key; read enough to say how large it is.
constexpr qint64 kMaxKeyFileBytes = 4096;

} // namespace

std::optional<SecretKey> KeyCustody::load(QStringList& warnings) const
{
    const PathParts parts = splitPath(m_path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        return std::nullopt;
    const std::optional<FileRead> file = readStateFile(dir->get(), parts.name, m_path, kMaxKeyFileBytes);
    if (!file)
        return std::nullopt;
    SecretKey key = SecretKey::fromBytes(file->bytes, shown(m_path));
    if ((file->mode & 077) != 0) {
        if (::fchmod(file->fd.get(), 0600) != 0)
            failIo(QStringLiteral("%1: cannot make the key file owner-only: %2")
                       .arg(shown(m_path), systemError(errno)));
        warnings << QStringLiteral("the key file %1 could be read by others (mode %2); it is now owner-only "
                                   "(0600), but the key may have been exposed")
                        .arg(shown(m_path))
                        .arg(file->mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return key;
}

SecretKey KeyCustody::obtain(QStringList& warnings) const
{
    if (std::optional<SecretKey> kept = load(warnings))
        return *kept;
    const PathParts parts = splitPath(m_path);
    const std::optional<Fd> dir = openDirectory(parts.dir);
    if (!dir)
        failIo(QStringLiteral("%1: cannot create the key file: its directory is missing").arg(shown(m_path)));
    const SecretKey key = SecretKey::generate();
    // Never replaces: a key file that appeared meanwhile may already seal a session.
    PendingFile file(dir->get(), parts.name, m_path, key.toBytes());
    if (file.commitIfAbsent()) {
        syncDirectory(dir->get(), parts.dir);
        return key;
    }
    if (std::optional<SecretKey> kept = load(warnings))
        return *kept;
    failIo(QStringLiteral("%1: the key file vanished while it was created").arg(shown(m_path)));
}

} // namespace storage
