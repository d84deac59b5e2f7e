// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <IEncryptedSerializable.h>
#include <PhoneRuntimeData.h>
#include <ThreadSafety.h>
#include <UserRuntimeData.h>

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The running client's session: one runtime store per domain, the provisioning state
// of the seven configuration sections, and the configuration-ready callback.
//
// Stores are handed out as weak references to the session's own objects; a copy of
// the session shares them. The session's lock guards only the callback; the flags are
// atomic, and every store guards itself. No operation holds two locks at once.
//
// Changes are reported by the stores themselves (subscribe on a store, see
// RuntimeStore.h); a copy of the session shares the stores and so their subscribers.
// resetConfigurationData() and clear() report each store's changes as that store's
// step ends, with no lock held.
//
// Storage: both data sets hold the nested sets of the application, chat, phone, user
// and desk stores under "app", "chat", "phone", "user" and "desk". The call-flow store,
// the flags and the callback are never stored.
class SESSIONCONFIG_EXPORT SessionData : public IEncryptedSerializable
{
public:
    SessionData();
    // Shares the stores; starts unprovisioned, without a callback.
    SessionData(const SessionData& other);
    // Takes the stores over; the source's getters then return expired references.
    SessionData(SessionData&& other) noexcept;
    // Shares (or takes) the source's stores; this session's flags and callback stay.
    //@{
    SessionData& operator=(const SessionData& other);
    SessionData& operator=(SessionData&& other) noexcept;
    //@}
    ~SessionData() override;

    // The domain stores, as weak references to the session's own objects; each store
    // is thread-safe on its own.
    //@{
    std::weak_ptr<AppRuntimeData> getAppSessionData() const { return m_app; }
    std::weak_ptr<CallFlowRuntimeData> getCallFlowSessionData() const { return m_callFlow; }
    std::weak_ptr<ChatRuntimeData> getChatSessionData() const { return m_chat; }
    std::weak_ptr<PhoneRuntimeData> getPhoneSessionData() const { return m_phone; }
    std::weak_ptr<UserRuntimeData> getUserRuntimeData() const { return m_user; }
    std::weak_ptr<DeskRuntimeData> getDeskSessionData() const { return m_desk; }
    //@}

    // Whether a user is signed in: user name, app key and WID all present.
    bool isValidSession() const;

    // Marks one configuration section as provisioned (or not); atomic, no lock.
    //@{
    void setAppConfigurationDataProvisioned(bool provisioned);
    void setAppMeetingConfigurationDataProvisioned(bool provisioned);
    void setChatConfigurationDataProvisioned(bool provisioned);
    void setPhoneConfigurationDataProvisioned(bool provisioned);
    void setCallFlowConfigurationDataProvisioned(bool provisioned);
    void setDeskConfigurationDataProvisioned(bool provisioned);
    void setUserConfigurationDataProvisioned(bool provisioned);
    //@}
    // True when all seven sections are provisioned. Setting the last one runs nothing:
    // the client decides when to call alertConfigurationReady().
    bool isProvisioned() const;

    // Clears the flags and drops the provisioned values of the call-flow, chat, phone,
    // user and desk stores; the signed-in user, the application store and the
    // callback stay.
    void resetConfigurationData();
    // Clears the flags and returns every store to its defaults (the application store
    // keeps its few start-up fields); the callback stays.
    void clear();

    // Replaces the callback; an empty function removes it.
    void setConfigurationReadyCallback(std::function<void()> callback) SESSIONCONFIG_EXCLUDES(m_callbackLock);
    // Runs the callback, if any, on the calling thread, whatever the flags say. The
    // callback must not replace itself (it runs under the session's shared lock); an
    // exception from it reaches the caller with the lock released.
    void alertConfigurationReady() const SESSIONCONFIG_EXCLUDES(m_callbackLock);

    // Why the plain part could not be stored whole, or nothing when it can: a stored
    // list carries positions below the data sets' list-length limit only, so more
    // opt-out messages than that would be left out without a word. Storage refuses to
    // store such a session rather than lose them. Takes the application store's
    // shared lock.
    std::optional<QString> unstorablePlainPart() const;

    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

private:
    using Serialize = DataSets::DataSet (IEncryptedSerializable::*)() const;
    using Deserialize = void (IEncryptedSerializable::*)(const DataSets::DataSet&);
    DataSets::DataSet serializeStores(Serialize part) const;
    void deserializeStores(const DataSets::DataSet& ds, Deserialize part);
    template <class F> static void forEachStore(F&& f);
    void clearFlags();

    std::shared_ptr<AppRuntimeData> m_app;
    std::shared_ptr<CallFlowRuntimeData> m_callFlow;
    std::shared_ptr<ChatRuntimeData> m_chat;
    std::shared_ptr<PhoneRuntimeData> m_phone;
    std::shared_ptr<UserRuntimeData> m_user;
    std::shared_ptr<DeskRuntimeData> m_desk;

    std::atomic<bool> m_appProvisioned{false};
    std::atomic<bool> m_appMeetingProvisioned{false};
    std::atomic<bool> m_chatProvisioned{false};
    std::atomic<bool> m_phoneProvisioned{false};
    std::atomic<bool> m_callFlowProvisioned{false};
    std::atomic<bool> m_deskProvisioned{false};
    std::atomic<bool> m_userProvisioned{false};

    mutable SessionConfigSync::SharedMutex m_callbackLock;
    std::function<void()> m_configurationReady SESSIONCONFIG_GUARDED_BY(m_callbackLock);
};
