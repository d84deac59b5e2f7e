#pragma once

#include "sessionconfig_export.h"

#include <ChatConfigurationDTO.h>
#include <GuardedRecord.h>
#include <IConfigurationResettable.h>
#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

// enumerator, number, value type, kind, record field
#define CHAT_PROPERTIES(ROW, X)                               \
    ROW(X, JID, 0, QString, FIELD, m_jid)                     \
    ROW(X, Token, 1, QString, FIELD, m_token)                 \
    ROW(X, Enabled, 2, bool, FIELD, m_enabled)                \
    ROW(X, LastChatSync, 3, long long, FIELD, m_lastChatSync) \
    ROW(X, TimeToLive, 4, int, FIELD, m_timeToLive)

SESSIONCONFIG_PROPERTY_ENUM(ChatProperty, CHAT_PROPERTIES)

// The session's thread-safe holder of the chat settings.
class SESSIONCONFIG_EXPORT ChatRuntimeData : public IConfigurationResettable, public IEncryptedSerializable
{
public:
    using Property = ChatProperty;

    ChatRuntimeData();
    ChatRuntimeData(const ChatRuntimeData&) = delete;
    ChatRuntimeData& operator=(const ChatRuntimeData&) = delete;
    ~ChatRuntimeData() override;

    template <class T, ChatProperty P> T getData() const;
    template <class T, ChatProperty P> void setData(const T& value);

    // Drops the token, which is provisioned anew; everything else stays.
    void resetData() override;
    // Every field back to its default.
    void clear();

    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

private:
    GuardedRecord<ChatConfigurationDTO> m_record;
};

SESSIONCONFIG_STORE_PROPERTIES(ChatRuntimeData, ChatProperty, CHAT_PROPERTIES)
