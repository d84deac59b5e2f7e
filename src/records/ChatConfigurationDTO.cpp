#include <ChatConfigurationDTO.h>

#include "../contract/StoredValues.h"

namespace {
const QString kJid = QStringLiteral("jid");
const QString kChatEnabled = QStringLiteral("chatEnabled");
const QString kChatLastSynch = QStringLiteral("chatLastSynch");
} // namespace

ChatConfigurationDTO::~ChatConfigurationDTO() = default;

bool ChatConfigurationDTO::operator==(const ChatConfigurationDTO& other) const
{
    return m_jid == other.m_jid && m_token == other.m_token && m_lastChatSync == other.m_lastChatSync &&
           m_enabled == other.m_enabled && m_timeToLive == other.m_timeToLive;
}

DataSets::DataSet ChatConfigurationDTO::serializeEncrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kJid, m_jid);
    StoredValues::put(ds, kChatEnabled, m_enabled);
    return ds;
}

void ChatConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::take(ds, kJid, m_jid);
    StoredValues::take(ds, kChatEnabled, m_enabled);
}

DataSets::DataSet ChatConfigurationDTO::serializeUnencrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    // The data set holds no 64-bit kind, so the number travels as decimal text.
    StoredValues::put(ds, kChatLastSynch, QString::number(m_lastChatSync, 10));
    return ds;
}

void ChatConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    // Unlike every other read, this one starts from 0: a missing or unusable time
    // means the next synchronisation starts from scratch.
    m_lastChatSync = 0;
    QString text;
    if (!StoredValues::take(ds, kChatLastSynch, text))
        return;
    bool ok = false;
    const long long value = text.toLongLong(&ok, 10);
    if (ok && value > 0)
        m_lastChatSync = value;
}
