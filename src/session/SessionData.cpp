// SPDX-License-Identifier: MIT
#include <SessionData.h>

#include "../contract/StoredValues.h"

#include <type_traits>
#include <utility>

// The stores in member order, each with its key in the stored sets; the call-flow
// store is provisioned after every start and never stored.
template <class F> void SessionData::forEachStore(F&& f)
{
    f(&SessionData::m_app, QStringLiteral("app"));
    f(&SessionData::m_callFlow, QString());
    f(&SessionData::m_chat, QStringLiteral("chat"));
    f(&SessionData::m_phone, QStringLiteral("phone"));
    f(&SessionData::m_user, QStringLiteral("user"));
    f(&SessionData::m_desk, QStringLiteral("desk"));
}

SessionData::SessionData()
{
    forEachStore([this](auto member, const QString&) {
        this->*member = std::make_shared<typename std::decay_t<decltype(this->*member)>::element_type>();
    });
}

SessionData::SessionData(const SessionData& other)
    : IEncryptedSerializable(other)
{
    forEachStore([&](auto member, const QString&) { this->*member = other.*member; });
}

SessionData::SessionData(SessionData&& other) noexcept
    : IEncryptedSerializable(std::move(other))
{
    // Moving the interface base, which holds no state, leaves `other`'s stores whole.
    // NOLINTNEXTLINE(bugprone-use-after-move)
    forEachStore([&](auto member, const QString&) { this->*member = std::move(other.*member); });
}

SessionData& SessionData::operator=(const SessionData& other)
{
    if (this != &other)
        forEachStore([&](auto member, const QString&) { this->*member = other.*member; });
    return *this;
}

SessionData& SessionData::operator=(SessionData&& other) noexcept
{
    if (this != &other)
        forEachStore([&](auto member, const QString&) { this->*member = std::move(other.*member); });
    return *this;
}

SessionData::~SessionData() = default;

bool SessionData::isValidSession() const
{
    return m_user->isValidSession();
}

std::optional<QString> SessionData::unstorablePlainPart() const
{
    const std::size_t optOuts = m_app->getData<std::set<QString>, AppProperty::OptOutMessages>().size();
    if (optOuts <= std::size_t{DataSets::Impl::kMaxListLength})
        return std::nullopt;
    return QStringLiteral("app.optOutMessages: %1 messages, more than the limit of %2 a stored list carries")
        .arg(optOuts)
        .arg(DataSets::Impl::kMaxListLength);
}

void SessionData::setAppConfigurationDataProvisioned(bool provisioned)
{
    m_appProvisioned.store(provisioned);
}

void SessionData::setAppMeetingConfigurationDataProvisioned(bool provisioned)
{
    m_appMeetingProvisioned.store(provisioned);
}

void SessionData::setChatConfigurationDataProvisioned(bool provisioned)
{
    m_chatProvisioned.store(provisioned);
}

void SessionData::setPhoneConfigurationDataProvisioned(bool provisioned)
{
    m_phoneProvisioned.store(provisioned);
}

void SessionData::setCallFlowConfigurationDataProvisioned(bool provisioned)
{
    m_callFlowProvisioned.store(provisioned);
}

void SessionData::setDeskConfigurationDataProvisioned(bool provisioned)
{
    m_deskProvisioned.store(provisioned);
}

void SessionData::setUserConfigurationDataProvisioned(bool provisioned)
{
    m_userProvisioned.store(provisioned);
}

bool SessionData::isProvisioned() const
{
    return m_appProvisioned.load() && m_appMeetingProvisioned.load() && m_chatProvisioned.load() &&
           m_phoneProvisioned.load() && m_callFlowProvisioned.load() && m_deskProvisioned.load() &&
           m_userProvisioned.load();
}

void SessionData::clearFlags()
{
    for (std::atomic<bool>* flag :
         {&m_appProvisioned, &m_appMeetingProvisioned, &m_chatProvisioned, &m_phoneProvisioned,
          &m_callFlowProvisioned, &m_deskProvisioned, &m_userProvisioned})
        flag->store(false);
}

void SessionData::resetConfigurationData()
{
    clearFlags();
    // Every store that can reset, in member order (the application store cannot).
    forEachStore([this](auto member, const QString&) {
        using Store = typename std::decay_t<decltype(this->*member)>::element_type;
        if constexpr (std::is_base_of_v<IConfigurationResettable, Store>)
            (this->*member)->resetData();
    });
}

void SessionData::clear()
{
    clearFlags();
    // Not member order: the application store clears after the user store.
    m_callFlow->resetData(); // the call-flow store has nothing more to clear
    m_chat->clear();
    m_phone->clear();
    m_user->clear();
    m_app->clear();
    m_desk->clear();
}

void SessionData::setConfigurationReadyCallback(std::function<void()> callback)
{
    const SessionConfigSync::WriteLock lock(m_callbackLock);
    m_configurationReady = std::move(callback);
}

void SessionData::alertConfigurationReady() const
{
    const SessionConfigSync::ReadLock lock(m_callbackLock);
    if (m_configurationReady)
        m_configurationReady();
}

DataSets::DataSet SessionData::serializeStores(Serialize part) const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    // Each store holds its own lock for its own part only.
    forEachStore([&](auto member, const QString& key) {
        if (!key.isNull())
            StoredValues::put(ds, key,
                              (static_cast<const IEncryptedSerializable&>(*(this->*member)).*part)());
    });
    return ds;
}

void SessionData::deserializeStores(const DataSets::DataSet& ds, Deserialize part)
{
    forEachStore([&](auto member, const QString& key) {
        if (key.isNull())
            return;
        // A missing or mistyped part leaves an empty set: the store then finds none of its keys.
        DataSets::DataSet nested = DataSets::Impl::createDS(false);
        StoredValues::take(ds, key, nested);
        (static_cast<IEncryptedSerializable&>(*(this->*member)).*part)(nested);
    });
}

DataSets::DataSet SessionData::serializeEncrypted() const
{
    return serializeStores(&IEncryptedSerializable::serializeEncrypted);
}

void SessionData::deserializeEncrypted(const DataSets::DataSet& ds)
{
    deserializeStores(ds, &IEncryptedSerializable::deserializeEncrypted);
}

DataSets::DataSet SessionData::serializeUnencrypted() const
{
    return serializeStores(&IEncryptedSerializable::serializeUnencrypted);
}

void SessionData::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    deserializeStores(ds, &IEncryptedSerializable::deserializeUnencrypted);
}
