#pragma once

// Where and how a session is kept between runs: a state directory holding
//   session.enc   the encrypted data set, sealed with the key
//   session.json  the plain data set
//   session.key   the key (unless another key file is given)
// All three are owner-only (0600) and replaced atomically: a reader finds either
// the old or the new file, never a half-written one. A file that cannot be read is
// reported and never overwritten.

#include "Envelope.h"

#include <DataSets.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace sessionctl {

// $XDG_STATE_HOME/sessionconfig, or ~/.local/state/sessionconfig when unset.
QString defaultStateDir();

// Reads a whole file; throws Failure (I/O) naming it.
QByteArray readFile(const QString& path);
// Replaces a file atomically with owner-only permissions; throws Failure (I/O).
void writeFileAtomically(const QString& path, const QByteArray& bytes);

struct StoredSet
{
    QString path;
    std::uint32_t formatVersion = 0;
    std::uint64_t generation = 0;
    DataSets::DataSet data;
};

struct Restored
{
    std::optional<StoredSet> encrypted;
    std::optional<StoredSet> plain;
    // Things a restore found odd but could still use (one line each).
    QStringList warnings;

    bool isEmpty() const { return !encrypted && !plain; }
    // The newest generation found; 0 when nothing was stored.
    std::uint64_t generation() const;
};

class StateFiles
{
public:
    // An empty key path means the key file inside the state directory.
    StateFiles(const QString& stateDir, const QString& keyPath);

    QString dir() const { return m_dir; }
    QString encryptedPath() const;
    QString plainPath() const;
    QString keyPath() const { return m_keyPath; }

    // Creates the state directory (owner-only) when it is missing.
    void ensureDirectory() const;

    // Reads both stored files. Throws Failure when either exists but cannot be used.
    Restored load() const;

    // Stores both sets under a new generation (one past `previous`), the encrypted
    // file first; creates the key file when there is none. Returns the generation.
    std::uint64_t store(const DataSets::DataSet& encrypted, const DataSets::DataSet& plain,
                        std::uint64_t previous) const;

private:
    QString m_dir;
    QString m_keyPath;
};

// One stored file as `show` sees it; the key is needed only for the encrypted file
// (an empty key path means session.key beside the file).
struct ShownFile
{
    bool encrypted = false;
    StoredSet set;
};
ShownFile readStoredFile(const QString& path, const QString& keyPath);

} // namespace sessionctl
