// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>

#include <QString>

#include <utility>

// The user's chat identity and state. The JID and the enabled flag are kept in the
// encrypted part, the last synchronisation time in the plain part; the token and the
// time to live live for the run only.
class SESSIONCONFIG_EXPORT ChatConfigurationDTO : public IEncryptedSerializable
{
public:
    ChatConfigurationDTO() = default;
    ChatConfigurationDTO(const ChatConfigurationDTO&) = default;
    ChatConfigurationDTO& operator=(const ChatConfigurationDTO&) = default;
    ~ChatConfigurationDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    QString getJID() const { return m_jid; }
    void setJID(QString jid) { m_jid = std::move(jid); }
    QString getToken() const { return m_token; }
    void setToken(QString token) { m_token = std::move(token); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    long long getLastChatSync() const { return m_lastChatSync; }
    void setLastChatSync(long long lastChatSync) { m_lastChatSync = lastChatSync; }
    int getTimeToLive() const { return m_timeToLive; }
    void setTimeToLive(int timeToLive) { m_timeToLive = timeToLive; }
    //@}

    // All five fields: JID, token, last chat sync, enabled, time to live.
    //@{
    bool operator==(const ChatConfigurationDTO& other) const;
    bool operator!=(const ChatConfigurationDTO& other) const { return !(*this == other); }
    //@}

    // The stored keys and their rules are the rows of SESSIONCONFIG_CHAT_PROPERTIES
    // (ChatRuntimeData.h). Reading the last chat sync back keeps only a positive
    // number; anything else leaves 0.
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

private:
    friend class ChatRuntimeData;

    QString m_jid;
    QString m_token;
    bool m_enabled = false;
    long long m_lastChatSync = 0;
    int m_timeToLive = 0;
};
