#pragma once

#include "sessionconfig_export.h"

#include <DataSets.h>

// Something whose state is stored in two parts: one meant for encrypted storage
// (credentials, identities, rights) and one for plain storage. Each part is a new
// data set; reading a part back never clears what the object already holds first.
class SESSIONCONFIG_EXPORT IEncryptedSerializable
{
public:
    virtual ~IEncryptedSerializable();

    virtual DataSets::DataSet serializeEncrypted() const = 0;
    virtual void deserializeEncrypted(const DataSets::DataSet& ds) = 0;
    virtual DataSets::DataSet serializeUnencrypted() const = 0;
    virtual void deserializeUnencrypted(const DataSets::DataSet& ds) = 0;

protected:
    IEncryptedSerializable() = default;
    IEncryptedSerializable(const IEncryptedSerializable&) = default;
    IEncryptedSerializable(IEncryptedSerializable&&) = default;
    IEncryptedSerializable& operator=(const IEncryptedSerializable&) = default;
    IEncryptedSerializable& operator=(IEncryptedSerializable&&) = default;
};
