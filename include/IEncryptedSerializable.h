// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <DataSets.h>

// Something whose state is stored in two parts: one meant for encrypted storage
// (credentials, identities, rights) and one for plain storage. Each part is a new
// data set; reading a part back never clears what the object already holds first.
// Implementations that are shared between threads take their own locks.
class SESSIONCONFIG_EXPORT IEncryptedSerializable
{
public:
    virtual ~IEncryptedSerializable();

    // The part meant for encrypted storage, as a new data set.
    virtual DataSets::DataSet serializeEncrypted() const = 0;
    // Takes back what `ds` holds of the encrypted part; entries it lacks leave
    // their fields as they are.
    virtual void deserializeEncrypted(const DataSets::DataSet& ds) = 0;
    // The part meant for plain storage, as a new data set.
    virtual DataSets::DataSet serializeUnencrypted() const = 0;
    // Takes back what `ds` holds of the plain part; entries it lacks leave their
    // fields as they are.
    virtual void deserializeUnencrypted(const DataSets::DataSet& ds) = 0;

protected:
    IEncryptedSerializable() = default;
    IEncryptedSerializable(const IEncryptedSerializable&) = default;
    IEncryptedSerializable(IEncryptedSerializable&&) = default;
    IEncryptedSerializable& operator=(const IEncryptedSerializable&) = default;
    IEncryptedSerializable& operator=(IEncryptedSerializable&&) = default;
};
