#pragma once

#include "sessionconfig_export.h"

#include <ChatConfigurationDTO.h>
#include <RuntimeStore.h>

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
    SESSIONCONFIG_RUNTIME_STORE(ChatConfigurationDTO, ChatProperty)

public:
    ChatRuntimeData();
    ChatRuntimeData(const ChatRuntimeData&) = delete;
    ChatRuntimeData& operator=(const ChatRuntimeData&) = delete;
    ~ChatRuntimeData() override;

    // Drops the token, which is provisioned anew; everything else stays.
    void resetData() override;
    // Every field back to its default.
    void clear();
};

SESSIONCONFIG_STORE_PROPERTIES(ChatRuntimeData, ChatProperty, CHAT_PROPERTIES)
