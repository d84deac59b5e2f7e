// SPDX-License-Identifier: MIT
#include <ChatConfigurationDTO.h>

#include "../contract/StoredValues.h"

namespace StoredValues {

// The data set holds no 64-bit kind, so the time travels as decimal text. Unlike
// every other read, this one starts from 0: a missing, unusable or non-positive time
// means the next synchronisation starts from scratch.
template <> struct Rule<SyncTime, long long>
{
    static void write(const DataSets::DataSet& ds, const QString& key, long long value)
    {
        put(ds, key, QString::number(value, 10));
    }
    static void read(const DataSets::DataSet& ds, const QString& key, long long& target)
    {
        target = 0;
        QString text;
        if (!take(ds, key, text))
            return;
        bool ok = false;
        const long long value = text.toLongLong(&ok, 10);
        if (ok && value > 0)
            target = value;
    }
};

} // namespace StoredValues

ChatConfigurationDTO::~ChatConfigurationDTO() = default;

bool ChatConfigurationDTO::operator==(const ChatConfigurationDTO& other) const
{
    return StoredValues::equalRows(*this, other);
}

DataSets::DataSet ChatConfigurationDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void ChatConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet ChatConfigurationDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void ChatConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
