// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <ChatConfigurationDTO.h>
#include <RuntimeStore.h>

// The columns are explained in PropertyTable.h.
#define SESSIONCONFIG_CHAT_PROPERTIES(ROW, X)                                                             \
    ROW(X, JID, 0, QString, FIELD, m_jid, ENCRYPTED, "jid", KEEP, EQ, Plain)                              \
    ROW(X, Token, 1, QString, FIELD, m_token, NONE, "", DROP, EQ, Plain)                                  \
    ROW(X, Enabled, 2, bool, FIELD, m_enabled, ENCRYPTED, "chatEnabled", KEEP, EQ, Plain)                 \
    ROW(X, LastChatSync, 3, long long, FIELD, m_lastChatSync, PLAIN, "chatLastSynch", KEEP, EQ, SyncTime) \
    ROW(X, TimeToLive, 4, int, FIELD, m_timeToLive, NONE, "", KEEP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(ChatProperty, SESSIONCONFIG_CHAT_PROPERTIES)

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

SESSIONCONFIG_STORE_PROPERTIES(ChatRuntimeData, ChatProperty, SESSIONCONFIG_CHAT_PROPERTIES)
