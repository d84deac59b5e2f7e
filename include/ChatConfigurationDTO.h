// SPDX-License-Identifier: MIT
#pragma once

// \file
// The chat record, its property enumeration ChatProperty and its property table
// (every column of every property: \ref chat_properties).

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

#include <QString>

#include <tuple>
#include <utility>
namespace StoredValues {
// The record's own storage rules, defined beside its serialization.
struct SyncTime;
} // namespace StoredValues

// The properties of the chat store, by number. The numbers are part of the client's interface.
enum class ChatProperty : int {
    JID = 0,          // The user's chat address (JID)
    Token = 1,        // Chat authentication token
    Enabled = 2,      // Whether chat is switched on
    LastChatSync = 3, // Time of the last chat synchronisation, in milliseconds since the epoch
    TimeToLive = 4,   // Lifetime of chat messages
};

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

    // The stored parts, row by row from properties(). Reading the last chat sync back
    // keeps only a positive number; anything else leaves 0.
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per ChatProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    QString m_jid;
    QString m_token;
    bool m_enabled = false;
    long long m_lastChatSync = 0;
    int m_timeToLive = 0;
};

constexpr auto ChatConfigurationDTO::properties()
{
    using SessionConfigDetail::field;
    using R = ChatConfigurationDTO;
    return std::make_tuple(field<ChatProperty::JID, QString>(&R::m_jid).encrypted("jid"),
                           field<ChatProperty::Token, QString>(&R::m_token).runOnly().dropOnReset().secret(),
                           field<ChatProperty::Enabled, bool>(&R::m_enabled).encrypted("chatEnabled"),
                           field<ChatProperty::LastChatSync, long long>(&R::m_lastChatSync)
                               .plain("chatLastSynch")
                               .rule<StoredValues::SyncTime>(),
                           field<ChatProperty::TimeToLive, int>(&R::m_timeToLive).runOnly());
}

template <> struct SessionConfigDetail::RecordOf<ChatProperty>
{
    using type = ChatConfigurationDTO;
};
