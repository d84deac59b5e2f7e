// SPDX-License-Identifier: MIT
#pragma once

// The session's domains and configuration sections as sessionctl knows them, one line
// each. The profile reader, the provisioning threads, the change watch and the
// reports all walk these two tables.

#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <UserRuntimeData.h>

#include <QString>

#include <memory>
#include <type_traits>
#include <vector>

namespace sessionctl {

// The seven configuration sections whose provisioning the session tracks.
enum class Section { App, AppMeeting, CallFlow, Chat, Phone, User, Desk };

struct SectionEntry
{
    Section section;
    const char* name;
    void (SessionData::*report)(bool);
};

inline constexpr SectionEntry kSections[] = {
    {Section::App, "app", &SessionData::setAppConfigurationDataProvisioned},
    {Section::AppMeeting, "appMeeting", &SessionData::setAppMeetingConfigurationDataProvisioned},
    {Section::CallFlow, "callFlow", &SessionData::setCallFlowConfigurationDataProvisioned},
    {Section::Chat, "chat", &SessionData::setChatConfigurationDataProvisioned},
    {Section::Phone, "phone", &SessionData::setPhoneConfigurationDataProvisioned},
    {Section::User, "user", &SessionData::setUserConfigurationDataProvisioned},
    {Section::Desk, "desk", &SessionData::setDeskConfigurationDataProvisioned},
};

inline QString sectionName(Section section)
{
    return QLatin1String(kSections[static_cast<int>(section)].name);
}

// One domain: its name in profiles and change reports, how to reach its store in a
// session and the sections it provisions.
template <class Store> struct Domain
{
    using StoreType = Store;
    const char* name;
    std::weak_ptr<Store> (SessionData::*store)() const;
    std::vector<Section> sections;

    std::shared_ptr<Store> of(const SessionData& session) const { return (session.*store)().lock(); }
};

// Calls f(Domain<Store>) for each domain, in the session's store order.
template <class F> void forEachDomain(F&& f)
{
    f(Domain<AppRuntimeData>{"app", &SessionData::getAppSessionData, {Section::App, Section::AppMeeting}});
    f(Domain<CallFlowRuntimeData>{"callFlow", &SessionData::getCallFlowSessionData, {Section::CallFlow}});
    f(Domain<ChatRuntimeData>{"chat", &SessionData::getChatSessionData, {Section::Chat}});
    f(Domain<PhoneRuntimeData>{"phone", &SessionData::getPhoneSessionData, {Section::Phone}});
    f(Domain<UserRuntimeData>{"user", &SessionData::getUserRuntimeData, {Section::User}});
    f(Domain<DeskRuntimeData>{"desk", &SessionData::getDeskSessionData, {Section::Desk}});
}

// Calls f(domain, tag) for the row that "domain.Property" names (PropertyTag of
// PropertyTable.h); false when no row does. The one way profiles and verbs find a
// property by name.
template <class F> bool findProperty(const QString& fullName, F&& f)
{
    const qsizetype dot = fullName.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return false;
    const QStringView domainName = QStringView(fullName).left(dot);
    const QStringView propertyName = QStringView(fullName).mid(dot + 1);
    bool found = false;
    forEachDomain([&](const auto& domain) {
        if (found || domainName != QLatin1String(domain.name))
            return;
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        SessionConfigDetail::PropertyTable<Property>::forEach([&](auto tag, const char* rowName) {
            if (!found && propertyName == QLatin1String(rowName)) {
                found = true;
                f(domain, tag);
            }
        });
    });
    return found;
}

// The session's store of one domain, found through the table above.
template <class Store> std::shared_ptr<Store> storeOf(const SessionData& session)
{
    std::shared_ptr<Store> found;
    forEachDomain([&](const auto& domain) {
        if constexpr (std::is_same_v<typename std::decay_t<decltype(domain)>::StoreType, Store>)
            found = domain.of(session);
    });
    return found;
}

} // namespace sessionctl
