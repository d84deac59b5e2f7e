#include <SessionData.h>

#include "../contract/StoredValues.h"

#include <utility>

namespace {

const QString kApp = QStringLiteral("app");
const QString kChat = QStringLiteral("chat");
const QString kPhone = QStringLiteral("phone");
const QString kUser = QStringLiteral("user");
const QString kDesk = QStringLiteral("desk");

} // namespace

SessionData::SessionData()
    : m_app(std::make_shared<AppRuntimeData>())
    , m_callFlow(std::make_shared<CallFlowRuntimeData>())
    , m_chat(std::make_shared<ChatRuntimeData>())
    , m_phone(std::make_shared<PhoneRuntimeData>())
    , m_user(std::make_shared<UserRuntimeData>())
    , m_desk(std::make_shared<DeskRuntimeData>())
{}

SessionData::SessionData(const SessionData& other)
    : IEncryptedSerializable(other)
    , m_app(other.m_app)
    , m_callFlow(other.m_callFlow)
    , m_chat(other.m_chat)
    , m_phone(other.m_phone)
    , m_user(other.m_user)
    , m_desk(other.m_desk)
{}

SessionData::SessionData(SessionData&& other) noexcept
    : IEncryptedSerializable(std::move(other))
    , m_app(std::move(other.m_app))
    , m_callFlow(std::move(other.m_callFlow))
    , m_chat(std::move(other.m_chat))
    , m_phone(std::move(other.m_phone))
    , m_user(std::move(other.m_user))
    , m_desk(std::move(other.m_desk))
{}

SessionData& SessionData::operator=(const SessionData& other)
{
    if (this != &other) {
        m_app = other.m_app;
        m_callFlow = other.m_callFlow;
        m_chat = other.m_chat;
        m_phone = other.m_phone;
        m_user = other.m_user;
        m_desk = other.m_desk;
    }
    return *this;
}

SessionData& SessionData::operator=(SessionData&& other) noexcept
{
    if (this != &other) {
        m_app = std::move(other.m_app);
        m_callFlow = std::move(other.m_callFlow);
        m_chat = std::move(other.m_chat);
        m_phone = std::move(other.m_phone);
        m_user = std::move(other.m_user);
        m_desk = std::move(other.m_desk);
    }
    return *this;
}

SessionData::~SessionData() = default;

bool SessionData::isValidSession() const
{
    return m_user->isValidSession();
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
    m_callFlow->resetData();
    m_chat->resetData();
    m_phone->resetData();
    m_user->resetData();
    m_desk->resetData();
}

void SessionData::clear()
{
    clearFlags();
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

template <class F> void SessionData::forEachStoredPart(F&& f) const
{
    // The stored order; the call-flow store has no part.
    f(kApp, *m_app);
    f(kChat, *m_chat);
    f(kPhone, *m_phone);
    f(kUser, *m_user);
    f(kDesk, *m_desk);
}

DataSets::DataSet SessionData::serializeStores(Serialize part) const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    // Each store holds its own lock for its own part only.
    forEachStoredPart([&](const QString& key, IEncryptedSerializable& store) {
        StoredValues::put(ds, key, (store.*part)());
    });
    return ds;
}

void SessionData::deserializeStores(const DataSets::DataSet& ds, Deserialize part)
{
    forEachStoredPart([&](const QString& key, IEncryptedSerializable& store) {
        // A missing or mistyped part leaves an empty set: the store then finds none of its keys.
        DataSets::DataSet nested = DataSets::Impl::createDS(false);
        StoredValues::take(ds, key, nested);
        (store.*part)(nested);
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
