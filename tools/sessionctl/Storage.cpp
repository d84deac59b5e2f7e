#include "Storage.h"

#include "Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace sessionctl {

namespace {

const QString kEncryptedName = QStringLiteral("session.enc");
const QString kPlainName = QStringLiteral("session.json");
const QString kKeyName = QStringLiteral("session.key");

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

SecretKey readKey(const QString& path)
{
    return SecretKey::fromBytes(readFile(path), path);
}

StoredSet readPlain(const QString& path)
{
    const OpenedPlain opened = openPlain(readFile(path), path);
    return {path, opened.formatVersion, opened.generation, opened.session};
}

StoredSet readEncrypted(const QString& path, const SecretKey& key)
{
    const OpenedEncrypted opened = openEncrypted(readFile(path), key, path);
    return {path, opened.formatVersion, opened.generation, decodeSealedSet(opened.payload, path)};
}

} // namespace

QString defaultStateDir()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG base directories must be absolute: a relative one is ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/sessionconfig");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure{ExitIo, QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())};
    return file.readAll();
}

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    const auto fail = [&](const QString& what) {
        throw Failure{ExitIo, QStringLiteral("%1: cannot %2: %3").arg(path, what, file.errorString())};
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("write"));
    // The temporary file becomes the stored one: restrict it before any byte lands.
    if (!file.setPermissions(kOwnerOnly))
        fail(QStringLiteral("restrict permissions"));
    if (file.write(bytes) != bytes.size())
        fail(QStringLiteral("write"));
    if (!file.commit())
        fail(QStringLiteral("replace"));
}

std::uint64_t Restored::generation() const
{
    return std::max(encrypted ? encrypted->generation : 0, plain ? plain->generation : 0);
}

StateFiles::StateFiles(const QString& stateDir, const QString& keyPath)
    : m_dir(stateDir)
    , m_keyPath(keyPath.isEmpty() ? stateDir + QLatin1Char('/') + kKeyName : keyPath)
{}

QString StateFiles::encryptedPath() const
{
    return m_dir + QLatin1Char('/') + kEncryptedName;
}

QString StateFiles::plainPath() const
{
    return m_dir + QLatin1Char('/') + kPlainName;
}

void StateFiles::ensureDirectory() const
{
    const QFileInfo info(m_dir);
    if (info.exists() && !info.isDir())
        throw Failure{ExitIo, QStringLiteral("%1: not a directory").arg(m_dir)};
    if (info.exists())
        return;
    if (!QDir().mkpath(m_dir) || !QFile::setPermissions(m_dir, kOwnerOnly | QFileDevice::ExeOwner))
        throw Failure{ExitIo, QStringLiteral("%1: cannot create the state directory").arg(m_dir)};
}

Restored StateFiles::load() const
{
    Restored restored;
    const bool hasEncrypted = QFileInfo::exists(encryptedPath());
    const bool hasPlain = QFileInfo::exists(plainPath());

    if (hasEncrypted) {
        if (!QFileInfo::exists(m_keyPath))
            throw Failure{ExitBadStoredFile,
                          QStringLiteral("%1: cannot be decrypted: the key file %2 is missing")
                              .arg(encryptedPath(), m_keyPath)};
        restored.encrypted = readEncrypted(encryptedPath(), readKey(m_keyPath));
        if (QFile::permissions(m_keyPath) & ~(kOwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser))
            restored.warnings
                << QStringLiteral("the key file %1 can be read by others than its owner").arg(m_keyPath);
    }
    if (hasPlain)
        restored.plain = readPlain(plainPath());

    if (hasEncrypted && !hasPlain)
        restored.warnings
            << QStringLiteral("%1 is missing; restoring the encrypted part only").arg(plainPath());
    if (hasPlain && !hasEncrypted)
        restored.warnings
            << QStringLiteral("%1 is missing; restoring the plain part only").arg(encryptedPath());
    if (restored.encrypted && restored.plain && restored.encrypted->generation != restored.plain->generation)
        restored.warnings << QStringLiteral(
                                 "the stored files were not written together (%1 is generation %2, "
                                 "%3 is generation %4); restoring each")
                                 .arg(encryptedPath())
                                 .arg(restored.encrypted->generation)
                                 .arg(plainPath())
                                 .arg(restored.plain->generation);
    return restored;
}

std::uint64_t StateFiles::store(const DataSets::DataSet& encrypted, const DataSets::DataSet& plain,
                                std::uint64_t previous) const
{
    const std::uint64_t generation = previous + 1;
    const QByteArray sealedPlain = sealPlain(plain, generation);
    const QByteArray cbor = encodeSealedSet(encrypted);

    std::optional<SecretKey> key;
    if (QFileInfo::exists(m_keyPath)) {
        key = readKey(m_keyPath);
    } else {
        key = SecretKey::generate();
        writeFileAtomically(m_keyPath, key->toBytes());
    }
    writeFileAtomically(encryptedPath(), sealEncrypted(cbor, generation, *key));
    writeFileAtomically(plainPath(), sealedPlain);
    return generation;
}

ShownFile readStoredFile(const QString& path, const QString& keyPath)
{
    const QByteArray bytes = readFile(path);
    ShownFile shown;
    shown.encrypted = isEncryptedFile(bytes);
    if (!shown.encrypted) {
        shown.set = readPlain(path);
        return shown;
    }
    const QString key =
        keyPath.isEmpty() ? QFileInfo(path).absolutePath() + QLatin1Char('/') + kKeyName : keyPath;
    if (!QFileInfo::exists(key))
        throw Failure{ExitBadStoredFile,
                      QStringLiteral("%1: cannot be decrypted: the key file %2 is missing").arg(path, key)};
    const OpenedEncrypted opened = openEncrypted(bytes, readKey(key), path);
    shown.set = {path, opened.formatVersion, opened.generation, decodeSealedSet(opened.payload, path)};
    return shown;
}

} // namespace sessionctl
