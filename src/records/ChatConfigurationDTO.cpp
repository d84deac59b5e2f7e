// SPDX-License-Identifier: MIT
#include <ChatConfigurationDTO.h>
#include <ChatRuntimeData.h>

#include "../contract/StoredValues.h"

namespace StoredValues {

struct SyncTime;

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
    SESSIONCONFIG_RECORD_EQUALS(SESSIONCONFIG_CHAT_PROPERTIES);
}

DataSets::DataSet ChatConfigurationDTO::serializeEncrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_CHAT_PROPERTIES, ENCRYPTED);
}

void ChatConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_CHAT_PROPERTIES, ENCRYPTED);
}

DataSets::DataSet ChatConfigurationDTO::serializeUnencrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_CHAT_PROPERTIES, PLAIN);
}

void ChatConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_CHAT_PROPERTIES, PLAIN);
}
