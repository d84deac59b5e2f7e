#pragma once

// Where the data key is kept, and the one place that loads or creates it: the
// store asks for the key to open what is stored, or for the key to seal with.
// Today the key lives in a key file (0600); keeping it elsewhere changes this
// class only.

#include "Envelope.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace storage {

class KeyCustody
{
public:
    explicit KeyCustody(QByteArray keyFile)
        : m_path(std::move(keyFile))
    {}

    QByteArray path() const { return m_path; }

    // The kept key; nullopt when none is kept yet. A key file others could read is
    // made owner-only, with a warning. Throws StoreFailure.
    std::optional<SecretKey> load(QStringList& warnings) const;

    // The key to seal with: the kept one, or a new one, kept before it is used.
    SecretKey obtain(QStringList& warnings) const;

private:
    QByteArray m_path;
};

} // namespace storage
